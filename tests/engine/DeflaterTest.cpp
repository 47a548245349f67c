#include "engine/Deflater.h"

#include <gtest/gtest.h>
#include <random>
#include <zlib.h>

namespace {

std::string Inflated(const std::string& packed, size_t size) {
    std::string back(size + 1, '\0');
    uLongf length = back.size();
    if (uncompress(reinterpret_cast<Bytef*>(back.data()), &length,
                   reinterpret_cast<const Bytef*>(packed.data()), packed.size()) != Z_OK)
        return "(not zlib data)";
    back.resize(length);
    return back;
}

} // namespace

// Both ways out read back, through zlib, as the bytes that went in: lengths at the edges of
// the match codes, distances past 256, runs longer than one match, bytes of every value, and
// sizes around the point where Pack hands over to zlib. One deflater serves every input, as a
// thread's does, so what it remembers of one input must never leak into the next.
TEST(DeflaterTest, EveryInputReadsBack) {
    std::mt19937 random(7);
    std::string noise(9000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::string text;
    for (int i = 0; text.size() < 20000; ++i)
        text += "<< /Type /Font /Subtype /Type1 /BaseFont /F" + std::to_string(i % 300) + " >>\n";
    const std::string inputs[] = {
        "",
        "a",
        "abc",
        std::string(3, 'x') + std::string(258, 'y') + std::string(259, 'z'),
        std::string(70000, '\0'),
        "0123456789" + std::string(300, '.') + "0123456789" + std::string(5000, '-') + "0123456789",
        noise,
        text.substr(0, engine::CDeflater::kSmall),
        text.substr(0, engine::CDeflater::kSmall + 1),
        text,
    };
    engine::CDeflater deflater;
    for (int round = 0; round < 2; ++round)
        for (const std::string& in : inputs) {
            std::string packed, compressed;
            ASSERT_TRUE(deflater.Pack(in, packed));
            ASSERT_TRUE(engine::CDeflater::Compress(in, compressed));
            EXPECT_EQ(Inflated(packed, in.size()), in) << in.size();
            EXPECT_EQ(Inflated(compressed, in.size()), in) << in.size();
            if (in.size() > 1000 && in != noise) {
                EXPECT_LT(packed.size(), in.size() / 2) << in.size();
            }
        }
}
