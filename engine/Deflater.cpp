#include "engine/Deflater.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <zlib.h>

namespace engine {

namespace {

// The bits of a code as the block holds them: Huffman codes go most significant bit first
// into a stream that is filled from the least significant bit.
constexpr uint32_t Reversed(uint32_t code, int bits) {
    uint32_t r = 0;
    for (int i = 0; i < bits; ++i)
        r |= ((code >> i) & 1u) << (bits - 1 - i);
    return r;
}

struct Code {
    uint32_t bits = 0; // ready to put, extra bits included
    uint8_t count = 0;
};

// The fixed literal/length code of a symbol (0-287).
constexpr Code FixedSymbol(int symbol) {
    if (symbol < 144)
        return {Reversed(0x30u + static_cast<uint32_t>(symbol), 8), 8};
    if (symbol < 256)
        return {Reversed(0x190u + static_cast<uint32_t>(symbol - 144), 9), 9};
    if (symbol < 280)
        return {Reversed(static_cast<uint32_t>(symbol - 256), 7), 7};
    return {Reversed(0xC0u + static_cast<uint32_t>(symbol - 280), 8), 8};
}

constexpr int FloorLog2(uint32_t x) {
    int n = 0;
    while (x >>= 1)
        ++n;
    return n;
}

struct Tables {
    std::array<Code, 256> literal;
    std::array<Code, 259> length; // by match length, 3-258: symbol and extra bits
};

constexpr Tables MakeTables() {
    Tables t{};
    for (int c = 0; c < 256; ++c)
        t.literal[static_cast<size_t>(c)] = FixedSymbol(c);
    for (uint32_t length = 3; length <= 258; ++length) {
        int symbol = 285, extraBits = 0;
        uint32_t extra = 0;
        if (length < 258) {
            const uint32_t x = length - 3;
            if (x < 8) {
                symbol = 257 + static_cast<int>(x);
            } else {
                const int n = FloorLog2(x);
                symbol = 257 + 4 * (n - 1) + static_cast<int>((x >> (n - 2)) & 3u);
                extraBits = n - 2;
                extra = x & ((1u << extraBits) - 1);
            }
        }
        const Code code = FixedSymbol(symbol);
        t.length[length] = {code.bits | (extra << code.count),
                            static_cast<uint8_t>(code.count + extraBits)};
    }
    return t;
}

constexpr Tables kTables = MakeTables();
constexpr Code kEndOfBlock = FixedSymbol(256);

// Distance codes are five bits each in a fixed block, followed by their extra bits. The
// symbol comes from a table, as in zlib: by distance up to 256, by distance / 128 above.
struct DistanceTables {
    std::array<uint8_t, 512> symbol;
    std::array<uint32_t, 30> base;
    std::array<uint32_t, 30> code; // reversed
    std::array<uint8_t, 30> extraBits;
};

constexpr DistanceTables MakeDistanceTables() {
    DistanceTables t{};
    for (uint32_t s = 0; s < 30; ++s) {
        t.extraBits[s] = static_cast<uint8_t>(s < 4 ? 0 : s / 2 - 1);
        t.base[s] = s < 4 ? s + 1 : ((2u + (s & 1u)) << (s / 2 - 1)) + 1;
        t.code[s] = Reversed(s, 5);
    }
    for (uint32_t s = 0; s < 30; ++s)
        for (uint32_t d = t.base[s]; d < t.base[s] + (1u << t.extraBits[s]) && d <= 32768; ++d) {
            if (d <= 256)
                t.symbol[d - 1] = static_cast<uint8_t>(s);
            else
                t.symbol[256 + ((d - 1) >> 7)] = static_cast<uint8_t>(s);
        }
    return t;
}

constexpr DistanceTables kDistances = MakeDistanceTables();

inline Code DistanceCode(uint32_t distance) {
    const uint32_t x = distance - 1;
    const uint32_t s = kDistances.symbol[x < 256 ? x : 256 + (x >> 7)];
    return {kDistances.code[s] | ((distance - kDistances.base[s]) << 5),
            static_cast<uint8_t>(5 + kDistances.extraBits[s])};
}

class BitWriter {
  public:
    explicit BitWriter(char* out) : m_out(out) {}
    void Put(uint32_t bits, int count) {
        m_acc |= uint64_t{bits} << m_count;
        m_count += count;
        if (m_count >= 32) {
            for (int i = 0; i < 4; ++i)
                *m_out++ = static_cast<char>((m_acc >> (8 * i)) & 0xff);
            m_acc >>= 32;
            m_count -= 32;
        }
    }
    char* Finish() {
        while (m_count > 0) {
            *m_out++ = static_cast<char>(m_acc & 0xff);
            m_acc >>= 8;
            m_count -= 8;
        }
        return m_out;
    }

  private:
    char* m_out;
    uint64_t m_acc = 0;
    int m_count = 0;
};

} // namespace

CDeflater::CDeflater() : m_head(std::make_unique<uint32_t[]>(size_t{1} << kHashBits)), m_base(1) {}

CDeflater::~CDeflater() = default;

bool CDeflater::Pack(std::string_view in, std::string& out) {
    if (in.size() > kSmall)
        return Compress(in, out);
    Fixed(in, out);
    return true;
}

void CDeflater::Fixed(std::string_view in, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    if (m_base > std::numeric_limits<uint32_t>::max() - kSmall - 1) {
        std::fill_n(m_head.get(), size_t{1} << kHashBits, 0u);
        m_base = 1;
    }
    // Nine bits at most per byte, plus the header, the block's ends and the checksum.
    out.resize(n + n / 8 + 16);
    char* o = out.data();
    *o++ = 0x78; // deflate, 32 KiB window
    *o++ = 0x01; // no dictionary, fastest; 0x7801 is a multiple of 31
    BitWriter bits(o);
    bits.Put(3, 3); // the last block, fixed codes
    // Three bytes from a load of four while there are four.
    auto hash = [p, n](size_t i) {
        uint32_t v;
        if (i + 4 <= n)
            std::memcpy(&v, p + i, 4);
        else
            v = p[i] | (uint32_t{p[i + 1]} << 8) | (uint32_t{p[i + 2]} << 16);
        return ((v & 0xffffffu) * 2654435761u) >> (32 - kHashBits);
    };
    uint32_t* head = m_head.get();
    size_t i = 0;
    while (i + 2 < n) {
        const uint32_t h = hash(i);
        const uint32_t seen = head[h];
        head[h] = m_base + static_cast<uint32_t>(i);
        if (seen >= m_base) {
            const size_t from = seen - m_base;
            const size_t distance = i - from;
            if (distance <= 32768 && p[from] == p[i] && p[from + 1] == p[i + 1] &&
                p[from + 2] == p[i + 2]) {
                const size_t most = std::min<size_t>(258, n - i);
                size_t length = 3;
                while (length < most && p[from + length] == p[i + length])
                    ++length;
                const Code& lc = kTables.length[length];
                bits.Put(lc.bits, lc.count);
                const Code dc = DistanceCode(static_cast<uint32_t>(distance));
                bits.Put(dc.bits, dc.count);
                // The first positions inside the match are remembered too; the rest of a long
                // match would cost as much again for a few bytes less.
                for (size_t k = i + 1; k < i + std::min<size_t>(length, 4) && k + 2 < n; ++k)
                    head[hash(k)] = m_base + static_cast<uint32_t>(k);
                i += length;
                continue;
            }
        }
        const Code& c = kTables.literal[p[i]];
        bits.Put(c.bits, c.count);
        ++i;
    }
    for (; i < n; ++i) {
        const Code& c = kTables.literal[p[i]];
        bits.Put(c.bits, c.count);
    }
    bits.Put(kEndOfBlock.bits, kEndOfBlock.count);
    o = bits.Finish();
    m_base += static_cast<uint32_t>(n) + 1;
    const uLong adler =
        adler32(adler32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n));
    for (int shift = 24; shift >= 0; shift -= 8)
        *o++ = static_cast<char>((adler >> shift) & 0xff);
    out.resize(static_cast<size_t>(o - out.data()));
}

bool CDeflater::Compress(std::string_view in, std::string& out) {
    // zlib's window and hash are sized to the data: its defaults would set up (and clear) a
    // quarter of a megabyte of state for a stream of a few kilobytes.
    int windowBits = 9;
    while (windowBits < 15 && (size_t{1} << windowBits) < in.size())
        ++windowBits;
    z_stream z{};
    if (deflateInit2(&z, kLevel, Z_DEFLATED, windowBits, std::max(1, windowBits - 7),
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out.resize(deflateBound(&z, static_cast<uLong>(in.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    // zlib counts in 32 bits: a larger input goes through in pieces.
    size_t inLeft = in.size(), outLeft = out.size();
    int status = Z_OK;
    while (status == Z_OK) {
        constexpr size_t kPiece = size_t{1} << 30;
        const size_t inPiece = std::min(inLeft, kPiece), outPiece = std::min(outLeft, kPiece);
        z.avail_in = static_cast<uInt>(inPiece);
        z.avail_out = static_cast<uInt>(outPiece);
        status = deflate(&z, inPiece == inLeft ? Z_FINISH : Z_NO_FLUSH);
        inLeft -= inPiece - z.avail_in;
        outLeft -= outPiece - z.avail_out;
    }
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        return false;
    out.resize(out.size() - outLeft);
    return true;
}

} // namespace engine
