#include "core/SetupOptions.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace core;
using testing_support::CTempDir;

namespace {
SetupOptions LoadFrom(const CTempDir& dir, const std::string& content) {
    SetupOptions o;
    LoadSetupOptions(o, dir.Write("setup.ini", content));
    return o;
}
} // namespace

TEST(SetupOptionsTest, MissingFileGivesDefaults) {
    CTempDir dir;
    SetupOptions o;
    LoadSetupOptions(o, dir.File("setup.ini"));
    EXPECT_EQ(o, SetupOptions{});
    EXPECT_EQ(o.prefix, "_part");
    EXPECT_EQ(o.counterWidth, 4);
    EXPECT_TRUE(o.useSourceName);
}

TEST(SetupOptionsTest, DefaultsSaveAsTheSixValueLines) {
    CTempDir dir;
    testing_support::CRecordingPrompter prompter;
    ASSERT_TRUE(SaveSetupOptions(SetupOptions{}, prompter, dir.File("setup.ini")));
    EXPECT_EQ(dir.Read("setup.ini"), "PREFIXSTR;_part\nENDSTR;\nPAGERANGETEXT;page\n"
                                     "PAGERANGESTEXT;pages\nMASK;4\nDELIMITER;_\n");
    SetupOptions o;
    o.useSourceName = false;
    o.noSplash = o.defaultSplitToSource = true;
    EXPECT_EQ(SetupOptionsText(o).substr(SetupOptionsText(SetupOptions{}).size()),
              "NOSPLASH\nDEFAULTSPLIT\nDONTUSEORIGINALFILENAME\n");
}

TEST(SetupOptionsTest, RoundTripsEveryOption) {
    CTempDir dir;
    testing_support::CRecordingPrompter prompter;
    SetupOptions o{"P x", false, "_end", -3, true, true, "pg", "pgs", "--"};
    ASSERT_TRUE(SaveSetupOptions(o, prompter, dir.File("setup.ini")));
    SetupOptions back;
    LoadSetupOptions(back, dir.File("setup.ini"));
    EXPECT_EQ(back, o);
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST(SetupOptionsTest, ReadsOddFilesSoundly) {
    CTempDir dir;
    SetupOptions flagsOnly = LoadFrom(dir, "NOSPLASH");
    EXPECT_TRUE(flagsOnly.noSplash);
    flagsOnly.noSplash = false;
    EXPECT_EQ(flagsOnly, SetupOptions{});

    SetupOptions o = LoadFrom(dir, "ENDSTR\r\nPREFIXSTR;;abc\r\nprefixstr;x\n MASK;9\n"
                                   "PAGERANGETEXT;a;b\nNOSPLASH;x\n\n;;;\nMASK\nDELIMITER;\n");
    EXPECT_EQ(o.endText, "");
    EXPECT_EQ(o.prefix, "abc");
    EXPECT_EQ(o.singlePageText, "a");
    EXPECT_TRUE(o.noSplash);
    EXPECT_EQ(o.counterWidth, 4) << "MASK without a value, or behind a space, changes nothing";
    EXPECT_EQ(o.delimiter, "");

    EXPECT_EQ(LoadFrom(dir, "MASK;abc\n").counterWidth, 0);
    EXPECT_EQ(LoadFrom(dir, "MASK;-3\n").counterWidth, -3);
    EXPECT_EQ(LoadFrom(dir, "MASK;2\nMASK;6\n").counterWidth, 6) << "the last line wins";
    // A line of more than 254 characters is read as pieces of 254, each a line of its own.
    EXPECT_EQ(LoadFrom(dir, "ENDSTR;" + std::string(247, 'x') + "NOSPLASH\n").noSplash, true);
    // ... however far into the file they are (this piece spans two reads of 64 KiB).
    EXPECT_EQ(LoadFrom(dir, "ENDSTR;" + std::string(65525, 'x') + "NOSPLASH\n").noSplash, true);
}

TEST(SetupOptionsTest, WhatIsReadIsWhatASaveReadsBack) {
    const struct {
        const char* content;
        const char* prefix;
    } cases[] = {
        {"PREFIXSTR;ab\r\r\n", "ab"},  // a doubled line end
        {"PREFIXSTR;ab\r;cd\n", "ab"}, // a return before the cut at a semicolon
        {"PREFIXSTR;a\rb\n", "a\rb"},  // inside a value it stays
        {"PREFIXSTR;\r\r\r\n", ""},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const SetupOptions read = LoadFrom(dir, c.content);
        EXPECT_EQ(read.prefix, c.prefix) << c.content;
        EXPECT_EQ(LoadFrom(dir, SetupOptionsText(read)), read) << c.content;
    }
}

TEST(SetupOptionsTest, UnwritableFileIsReportedAndOldFileSurvives) {
    CTempDir dir;
    testing_support::CRecordingPrompter prompter;
    EXPECT_FALSE(SaveSetupOptions(SetupOptions{}, prompter, dir.File("no/such/dir/setup.ini")));
    EXPECT_EQ(prompter.Lines(), std::vector<std::string>{": can't save to setup.ini"});
}

// Naming clamps a wild width; the file itself keeps what the user wrote.
TEST(SetupOptionsTest, HugeCounterWidthIsKeptAsWritten) {
    CTempDir dir;
    for (const char* width : {"2147483647", "-2147483648", "100000000"}) {
        SetupOptions o = LoadFrom(dir, std::string("MASK;") + width + "\n");
        testing_support::CRecordingPrompter prompter;
        ASSERT_TRUE(SaveSetupOptions(o, prompter, dir.File("setup.ini")));
        EXPECT_NE(dir.Read("setup.ini").find(std::string("\nMASK;") + width + "\n"),
                  std::string::npos)
            << width;
    }
}
