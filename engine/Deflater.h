#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace engine {

// Compresses bytes into the zlib format (what /FlateDecode reads).
//
// Pack is for the dictionary text a part's writer makes itself (its object stream, its
// cross-reference stream: a few hundred bytes to a few kilobytes for a part of one page). Up
// to kSmall bytes it writes one block of fixed Huffman codes with greedy matching, made here;
// larger text goes to zlib. For a 561-byte object stream zlib spent about 100,000
// instructions whatever its level, mostly on building and weighing dynamic Huffman trees and
// on setting up its state (libdeflate 60,000 to 85,000): 28% of a single-page split. The fixed
// block takes about 18,000 and comes out some 15% larger (323 bytes against 281), a few
// percent of the part; above a few kilobytes the dynamic trees are worth their cost.
//
// Compress is zlib at kLevel, for the streams a source stored without a filter: their sizes
// are what a part is compared on with qpdf's copy, which compresses at that level too.
//
// A deflater serves one thread: its match table is kept from one input to the next.
class CDeflater {
  public:
    CDeflater();
    ~CDeflater();
    CDeflater(const CDeflater&) = delete;
    CDeflater& operator=(const CDeflater&) = delete;

    static constexpr size_t kSmall = 4 * 1024;
    static constexpr int kLevel = 6;

    // The compressed bytes of `in` in `out` (replacing what it held); false when zlib failed.
    bool Pack(std::string_view in, std::string& out);
    static bool Compress(std::string_view in, std::string& out);

  private:
    void Fixed(std::string_view in, std::string& out);

    // The last position (plus m_base) at which each hash of three bytes was seen. Entries
    // below m_base belong to earlier inputs, so the table is never cleared between them.
    static constexpr int kHashBits = 13;
    std::unique_ptr<uint32_t[]> m_head;
    uint32_t m_base;
};

} // namespace engine
