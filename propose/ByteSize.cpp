#include "propose/ByteSize.h"

#include <cmath>
#include <limits>

namespace propose {

std::optional<int64_t> ParseByteSize(std::string_view text) {
    int64_t unit = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) {
        unit = 1024;
        text.remove_suffix(1);
    } else if (!text.empty() && text.back() == 'M') {
        unit = 1024 * 1024;
        text.remove_suffix(1);
    }
    double whole = 0;
    double fraction = 0;
    double scale = 1;
    bool digits = false;
    bool point = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
            if (point)
                fraction += (c - '0') * (scale /= 10);
            else
                whole = whole * 10 + (c - '0');
        } else if (c == '.' && !point && unit > 1) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    const double bytes = std::floor((whole + fraction) * static_cast<double>(unit));
    if (!digits || bytes < 1)
        return std::nullopt;
    // More than any file can hold is a size all the same: everything fits.
    if (bytes >= 9e18)
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(bytes);
}

} // namespace propose
