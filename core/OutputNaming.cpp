#include "core/OutputNaming.h"

#include "core/Files.h"
#include "core/Text.h"

#include <cstdio>
#include <vector>

namespace core {

namespace {

constexpr int kListLineLimit = 511;

// Reads up to k lines, each at most 511 bytes (a longer line counts as several); returns the
// count read and the last one with every CR and LF removed, or nullopt when it cannot open.
std::optional<ListName> ReadKthLine(const std::string& path, int k, Prompter& prompter) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        prompter.Show("Unable to read file list: " + path);
        return std::nullopt;
    }
    ListName result;
    char buffer[kListLineLimit + 1];
    std::string last;
    while (result.count < k && std::fgets(buffer, sizeof buffer, file)) {
        last = buffer;
        ++result.count;
    }
    std::fclose(file);
    for (char c : last)
        if (c != '\r' && c != '\n')
            result.name += c;
    return result;
}

ListName InlineListName(const std::string& list, int k) {
    ListName result;
    std::string_view taken;
    ForEachToken(list, ",", [&](std::string_view entry) {
        if (result.count < k) {
            taken = entry;
            ++result.count;
        }
    });
    result.name = TrimSpaces(taken);
    return result;
}

} // namespace

ListName ReadListLine(const std::string& path, int k, Prompter& prompter) {
    auto line = ReadKthLine(path, k, prompter);
    return line ? *line : ListName{-1, {}};
}

ListName ReadListCsv(const std::string& csvList, int k, Prompter& prompter) {
    std::string path;
    std::vector<int32_t> wanted;
    bool first = true;
    ForEachToken(csvList, ",", [&](std::string_view field) {
        if (first)
            path = field;
        else
            wanted.push_back(LeadingInt(field));
        first = false;
    });
    auto line = ReadKthLine(path, k, prompter);
    if (!line)
        return {-1, {}};

    ListName result{line->count, {}};
    int j = 0;
    ForEachToken(line->name, ",", [&](std::string_view field) {
        ++j;
        for (int32_t column : wanted) {
            if (column != j)
                continue;
            if (j == 1)
                result.name = field;
            else
                result.name += field;
        }
    });
    return result;
}

std::string CounterText(int32_t width, int64_t number) {
    return Format("%*.*lld", width, width, static_cast<long long>(number));
}

std::string ReduceDoubledSeparators(const std::string& path) {
    if (path.size() >= 2 && path[0] == kSeparator && path[1] == kSeparator)
        return path;
    std::string out;
    out.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        out += path[i];
        if (path[i] == kSeparator && i + 1 < path.size() && path[i + 1] == kSeparator)
            ++i;
    }
    return out;
}

std::optional<std::string> BuildOutputPath(const CJobList& list, int row, PageRange range, int k,
                                           const std::string& title, int32_t offset,
                                           const NamingContext& context) {
    const SetupOptions& o = context.options;
    const std::string& dir = list.Text(row, kColSplitTo);
    const std::string front = dir + kSeparator + (o.useSourceName ? title : std::string());
    std::string path;

    if (list.Text(row, kColIncrementName) == "Y") {
        const std::string& names = list.Text(row, kColFileList);
        if (context.trace.IsOn())
            context.trace.Line(Format("m_listFilenames: %s\r\n", names.c_str()));
        std::string namePart;
        if (names.empty()) {
            const int32_t start = LeadingInt(list.Text(row, kColIncrementStart));
            const int64_t n = start > 0 ? int64_t{k} + start - 1 : k;
            namePart = CounterText(o.counterWidth, n);
        } else {
            ListName found;
            if (StartsWith(names, "filecsv:"))
                found = ReadListCsv(names.substr(8), k, context.prompter);
            else if (StartsWith(names, "file:"))
                found = ReadListLine(names.substr(5), k, context.prompter);
            else
                found = InlineListName(names, k);
            if (found.count == -1)
                return std::nullopt;
            namePart = found.count == k ? found.name : Format("default_%d", k);
        }
        path = front + o.prefix + namePart + o.endText + ".pdf";
    } else {
        const std::string lead = o.useSourceName ? front + o.delimiter : front;
        const std::string first = CounterText(o.counterWidth, int64_t{range.first} + offset);
        if (range.first == range.last) {
            path = lead + o.singlePageText + first + ".pdf";
        } else {
            const std::string last = CounterText(o.counterWidth, int64_t{range.last} + offset);
            path = lead + o.rangeText + first + "-" + last + ".pdf";
        }
    }
    return ReduceDoubledSeparators(path);
}

} // namespace core
