#pragma once

#include <string>
#include <string_view>

namespace propose {

// UTF-8 as code points (wchar_t holds 32 bits here) and back. A byte that begins no character
// (a stray continuation byte, an overlong form, a surrogate, a value past U+10FFFF, a sequence
// cut short) stands for U+FFFD, so text from a document that only claims to be UTF-8 comes
// out well-formed.
std::wstring DecodedUtf8(std::string_view text);
std::string EncodedUtf8(std::wstring_view wide);

} // namespace propose
