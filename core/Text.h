#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Every number this program keeps as text is read this way: leading white space, an optional
// sign, then digits up to the first other character; no digits give 0. Values outside the
// 32-bit range saturate instead of wrapping, so a hand-edited file cannot produce nonsense.
int32_t LeadingInt(std::string_view text);

// The inverse: plain "%d" text.
std::string IntText(int64_t value);

// printf-style formatting into a std::string; the program's file formats and messages are
// fixed printf formats, so they are written with the formats themselves.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

bool Contains(std::string_view text, std::string_view part);
bool StartsWith(std::string_view text, std::string_view prefix);

// Removes every occurrence of `part`, scanning left to right over non-overlapping matches.
std::string RemoveAll(std::string_view text, std::string_view part);

// Removes spaces (0x20 only) at both ends.
std::string TrimSpaces(std::string_view text);

// Editors and spreadsheets often begin a UTF-8 text file with a byte order mark (EF BB BF); it
// is no part of the first line. The text without it.
std::string_view WithoutByteOrderMark(std::string_view text);

// Splits at any run of the given separator characters; leading and trailing runs produce no
// piece. This is the tokeniser the program's text formats share.
template <typename Fn>
void ForEachToken(std::string_view text, std::string_view separators, Fn fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of(separators, pos);
        if (pos == std::string_view::npos)
            break;
        size_t end = text.find_first_of(separators, pos);
        if (end == std::string_view::npos)
            end = text.size();
        fn(text.substr(pos, end - pos));
        pos = end;
    }
}

} // namespace core
