#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace propose {

// A size limit as a user writes it: bytes, or a number with "k" (KiB) or "M" (MiB) after it,
// a fraction allowed with a suffix ("1.5M"). Nothing for anything else, or below one byte.
std::optional<int64_t> ParseByteSize(std::string_view text);

} // namespace propose
