#include "storage/LogReader.h"

#include "core/Files.h"
#include "core/QuickSort.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace storage {

bool BeginsWithLogTime(std::string_view text) {
    static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
    if (text.size() < kShape.size())
        return false;
    for (size_t i = 0; i < kShape.size(); ++i)
        if (kShape[i] == 'd' ? text[i] < '0' || text[i] > '9' : text[i] != kShape[i])
            return false;
    return true;
}

namespace {

// A creation or modification cell: a time and its padding, or padding alone (a part that could
// not be looked at).
bool TimeCell(std::string_view cell) {
    const size_t at = BeginsWithLogTime(cell) ? 19 : 0;
    return cell.find_first_not_of(' ', at) == std::string_view::npos;
}

// A TAB in a file's name (any byte but "/" may be one) gives a line more cells than six; the
// names are the third cell and the last, and the two times between them are where the
// output's path ends. False when no two cells there look like times.
bool CellsAroundTimes(std::string_view line, std::array<std::string_view, kLogColumnCount>& cells) {
    std::vector<std::string_view> pieces;
    for (size_t at = 0;;) {
        const size_t tab = line.find('\t', at);
        pieces.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
        if (tab == std::string_view::npos)
            break;
        at = tab + 1;
    }
    const auto span = [](std::string_view from, std::string_view to) {
        return std::string_view(from.data(),
                                static_cast<size_t>(to.data() + to.size() - from.data()));
    };
    for (size_t i = 3; i + 2 < pieces.size(); ++i)
        if (TimeCell(pieces[i]) && TimeCell(pieces[i + 1])) {
            cells = {pieces[0], pieces[1],     span(pieces[2], pieces[i - 1]),
                     pieces[i], pieces[i + 1], span(pieces[i + 2], pieces.back())};
            return true;
        }
    return false;
}

} // namespace

LogRow ParseLogLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::array<std::string_view, kLogColumnCount> cells{};
    if (std::count(line.begin(), line.end(), '\t') < kLogColumnCount ||
        !CellsAroundTimes(line, cells)) {
        for (int cell = 0; cell < kLogColumnCount; ++cell) {
            size_t tab = cell + 1 < kLogColumnCount ? line.find('\t') : std::string_view::npos;
            cells[static_cast<size_t>(cell)] = line.substr(0, tab);
            line = tab == std::string_view::npos ? std::string_view{} : line.substr(tab + 1);
        }
    }
    LogRow row;
    for (size_t cell = 0; cell < cells.size(); ++cell)
        row[cell] = std::string(cells[cell].substr(0, kLogCellLimit)) + ' ';
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
    // A line feed in a file's name (any byte but "/" may be one) ends a piece of a line: every
    // line this program writes ends in CR LF, and every one begins with its time. A line ended
    // by a lone LF is held until the next one shows whether it goes on.
    std::string held;
    bool holding = false;
    char last = 0; // the line's last byte, read or passed over
    const auto lineEnded = [&] {
        if (holding && !BeginsWithLogTime(line)) {
            held += '\n';
            held.append(line, 0, kLineLimit - std::min(kLineLimit, held.size()));
        } else {
            if (holding)
                consumer(ParseLogLine(held));
            held.swap(line);
        }
        holding = last != '\r';
        if (!holding)
            consumer(ParseLogLine(held));
        line.clear();
        last = 0;
    };
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
            if (!piece.empty())
                last = piece.back();
            if (!overlong) {
                line.append(piece.substr(0, kLineLimit - line.size()));
                overlong = line.size() >= kLineLimit;
            }
            if (lf == std::string_view::npos)
                break;
            chunk.remove_prefix(lf + 1);
            lineEnded();
            overlong = false;
        }
    }
    ::close(fd);
    if (!line.empty())
        lineEnded();
    if (holding)
        consumer(ParseLogLine(held));
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
