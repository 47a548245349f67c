#include "storage/LogReader.h"

#include "core/QuickSort.h"

#include <cstdio>
#include <cstdlib>

namespace storage {

LogRow ParseLogLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    LogRow row;
    for (int cell = 0; cell < kLogColumnCount; ++cell) {
        size_t tab = cell + 1 < kLogColumnCount ? line.find('\t') : std::string_view::npos;
        row[static_cast<size_t>(cell)] = std::string(line.substr(0, tab)) + ' ';
        line = tab == std::string_view::npos ? std::string_view{} : line.substr(tab + 1);
    }
    return row;
}

bool ReadLog(const std::string& path, const std::function<void(const LogRow&)>& consumer) {
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file)
        return false;
    char* buffer = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = ::getline(&buffer, &capacity, file)) > 0) {
        std::string_view line(buffer, static_cast<size_t>(length));
        if (line.back() == '\n')
            line.remove_suffix(1);
        consumer(ParseLogLine(line));
    }
    std::free(buffer);
    std::fclose(file);
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
