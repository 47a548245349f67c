// split.log lines as any program (or a crash half-way through a line) may have left them.
// Input: the log's bytes.
#include "fuzz/FuzzInput.h"
#include "storage/LogMerge.h"
#include "storage/LogReader.h"

#include <algorithm>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static const fuzzing::CScratchFile file;
    file.Write(bytes);

    std::vector<storage::LogRow> rows;
    const bool read =
        storage::ReadLog(file.Path(), [&](const storage::LogRow& r) { rows.push_back(r); });
    FUZZ_CHECK(read);

    // One row per line, and each row's cells put back together with TABs give the line again:
    // nothing is lost, moved to another cell or invented. A line ended by a lone LF goes on
    // when the next does not begin with a time (a line feed in a file's name).
    fuzzing::CInput in(data, size);
    size_t index = 0;
    while (!in.Rest().empty()) {
        std::string whole(in.Line());
        while ((whole.empty() || whole.back() != '\r') && !in.Rest().empty() &&
               !storage::BeginsWithLogTime(in.Rest()))
            (whole += '\n') += in.Line();
        std::string_view line = whole;
        FUZZ_CHECK(index < rows.size());
        const storage::LogRow& row = rows[index++];
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::string joined;
        for (size_t c = 0; c < row.size(); ++c) {
            FUZZ_CHECK(!row[c].empty() && row[c].back() == ' ');
            if (c > 0)
                joined += '\t';
            joined.append(row[c], 0, row[c].size() - 1);
        }
        const auto tabs = static_cast<size_t>(std::count(line.begin(), line.end(), '\t'));
        std::string expected(line);
        if (tabs < row.size() - 1)
            expected.append(row.size() - 1 - tabs, '\t');
        // A cell longer than any path is cut at the limit; the rest of the line is still read.
        FUZZ_CHECK(joined == expected || line.size() > storage::kLogCellLimit);
    }
    FUZZ_CHECK(index == rows.size());

    // A log merged alone comes back byte for byte, a last line left without its end ended.
    std::ostringstream merged;
    std::string failed;
    FUZZ_CHECK(storage::MergeLogs({file.Path()}, merged, failed));
    const bool cut = !bytes.empty() && bytes.back() != '\n';
    FUZZ_CHECK(merged.str() == std::string(bytes) + (cut ? "\r\n" : ""));

    // The viewer's column sort keeps every row and orders the column.
    if (!rows.empty()) {
        const int column = static_cast<unsigned char>(bytes[0]) % storage::kLogColumnCount;
        const auto c = static_cast<size_t>(column);
        std::vector<storage::LogRow> sorted = rows;
        storage::SortLogRows(sorted, column);
        for (size_t i = 1; i < sorted.size(); ++i)
            FUZZ_CHECK(sorted[i - 1][c] <= sorted[i][c]);
        auto byCells = [](const storage::LogRow& a, const storage::LogRow& b) { return a < b; };
        std::sort(rows.begin(), rows.end(), byCells);
        std::sort(sorted.begin(), sorted.end(), byCells);
        FUZZ_CHECK(rows == sorted);
    }
    return 0;
}
