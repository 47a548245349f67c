#include "propose/Utf8.h"

#include <algorithm>

namespace propose {

std::wstring DecodedUtf8(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int more = lead < 0x80                   ? 0
                         : lead >= 0xc2 && lead < 0xe0 ? 1
                         : lead >= 0xe0 && lead < 0xf0 ? 2
                         : lead >= 0xf0 && lead < 0xf5 ? 3
                                                       : -1;
        char32_t code = more == 0   ? lead
                        : more == 1 ? lead & 0x1f
                        : more == 2 ? lead & 0x0f
                                    : lead & 0x07;
        bool whole = more >= 0 && i + static_cast<size_t>(more) < text.size();
        for (int k = 1; whole && k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            whole = (next & 0xc0) == 0x80;
            code = (code << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no characters either.
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        whole = whole && code >= kLeast[std::max(more, 0)] && code <= 0x10ffff &&
                (code < 0xd800 || code > 0xdfff);
        wide += whole ? static_cast<wchar_t>(code) : L'\ufffd';
        i += whole ? static_cast<size_t>(more) + 1 : 1;
    }
    return wide;
}

std::string EncodedUtf8(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (const wchar_t c : wide) {
        const auto code = static_cast<char32_t>(c);
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xc0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xe0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            text += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            text += static_cast<char>(0xf0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            text += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    return text;
}

} // namespace propose
