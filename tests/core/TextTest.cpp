#include "core/Text.h"

#include <gtest/gtest.h>

using core::LeadingInt;

TEST(LeadingIntTest, ReadsSignAndDigitsAfterWhiteSpace) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"42", 42},
        {"  -3", -3},
        {"+7x", 7},
        {"10n", 10},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {" \t12 5", 12},
        {"0012", 12},
        {"Unknown", 0},
        {"99999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LeadingInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(TextTest, RemoveAllAndTrim) {
    EXPECT_EQ(core::RemoveAll("/in/a.pdf.pdf", ".pdf"), "/in/a");
    EXPECT_EQ(core::RemoveAll("/in/REPORT.PDF", ".pdf"), "/in/REPORT.PDF");
    EXPECT_EQ(core::TrimSpaces("  a b \t "), "a b \t");
    EXPECT_EQ(core::TrimSpaces("   "), "");
}
