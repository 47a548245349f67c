#include "storage/LogReader.h"

#include "core/Files.h"
#include "core/QuickSort.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace storage {

LogRow ParseLogLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    LogRow row;
    for (int cell = 0; cell < kLogColumnCount; ++cell) {
        size_t tab = cell + 1 < kLogColumnCount ? line.find('\t') : std::string_view::npos;
        row[static_cast<size_t>(cell)] =
            std::string(line.substr(0, std::min(tab, kLogCellLimit))) + ' ';
        line = tab == std::string_view::npos ? std::string_view{} : line.substr(tab + 1);
    }
    return row;
}

bool ReadLog(const std::string& path, const std::function<void(const LogRow&)>& consumer) {
    const int fd = core::OpenOwnFd(path, O_RDONLY);
    if (fd < 0)
        return false;
    // Lines are gathered up to the width six full cells can fill; what a line holds beyond
    // that is passed over unread into memory, so one endless line costs no more than one row.
    constexpr size_t kLineLimit = kLogColumnCount * (kLogCellLimit + 1) + 1;
    std::string line;
    bool overlong = false;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::string_view chunk(buffer, static_cast<size_t>(n));
        while (!chunk.empty()) {
            const size_t lf = chunk.find('\n');
            const std::string_view piece = chunk.substr(0, lf);
            if (!overlong) {
                line.append(piece.substr(0, kLineLimit - line.size()));
                overlong = line.size() >= kLineLimit;
            }
            if (lf == std::string_view::npos)
                break;
            chunk.remove_prefix(lf + 1);
            consumer(ParseLogLine(line));
            line.clear();
            overlong = false;
        }
    }
    ::close(fd);
    if (!line.empty())
        consumer(ParseLogLine(line));
    return true;
}

void SortLogRows(std::vector<LogRow>& rows, int column) {
    if (column < 0 || column >= kLogColumnCount)
        return;
    const auto c = static_cast<size_t>(column);
    core::QuickSortRows(
        static_cast<int>(rows.size()), true, 0, -1,
        [&](int row) -> std::string_view { return rows[static_cast<size_t>(row)][c]; },
        [&](int a, int b) {
            std::swap(rows[static_cast<size_t>(a)], rows[static_cast<size_t>(b)]);
        });
}

} // namespace storage
