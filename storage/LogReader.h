#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace storage {

inline constexpr int kLogColumnCount = 6;

struct LogColumnInfo {
    std::string_view header;
    int width;
};

inline constexpr std::array<LogColumnInfo, kLogColumnCount> kLogColumns{{
    {"Date/Time", 110},
    {"File Size", 50},
    {"Append File", 200},
    {"Creation Time", 110},
    {"Modified Time", 110},
    {"Source File", 200},
}};

// What one cell holds at most, before its added space: a path the file system takes is
// shorter. Longer texts are cut there, so no line can take the viewer's memory or time.
inline constexpr size_t kLogCellLimit = 4096;

// The six cell texts of one log line, each keeping its padding and carrying one extra space.
using LogRow = std::array<std::string, kLogColumnCount>;

// Whether `text` begins with a time as log lines do ("YYYY-MM-DD HH:MM:SS").
bool BeginsWithLogTime(std::string_view text);

// Cuts a line (without its LF) at its TABs, so a value wider than its column cannot push the
// following ones out of place; the CR of the line end belongs to no cell. TABs beyond five
// belong to the file names, the output's or the source's, on either side of the two times.
LogRow ParseLogLine(std::string_view line);

// Streams the log, oldest line first (a line feed in a file's name does not end a line);
// false when the file cannot be opened or is not one the
// program may read as its log (a link, a FIFO or device, another user's file).
bool ReadLog(const std::string& path, const std::function<void(const LogRow&)>& consumer);

// The viewer's sort on a header click: always ascending, by byte order of the cell texts.
void SortLogRows(std::vector<LogRow>& rows, int column);

} // namespace storage
