#include "core/OutputNaming.h"

#include "core/Files.h"
#include "core/Text.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <vector>

namespace core {

namespace {

constexpr int kListLineLimit = 511;

// Reads up to k lines, each at most 511 bytes (a longer line counts as several); returns the
// count read and the last one with every CR and LF removed, or nullopt when it cannot open.
// With a cache the file is read only when it is new or has changed.
std::optional<ListName> ReadKthLine(const std::string& path, int k, Prompter& prompter,
                                    CNameListCache* cache = nullptr) {
    if (cache) {
        const CNameListCache::Lines* lines = cache->Get(path);
        if (!lines) {
            prompter.Show("Unable to read file list: " + path);
            return std::nullopt;
        }
        ListName result;
        result.count = static_cast<int>(std::min<size_t>(lines->pieces.size(), std::max(k, 0)));
        if (result.count > 0)
            result.name = lines->pieces[static_cast<size_t>(result.count - 1)];
        return result;
    }
    FILE* file = OpenRegularFile(path);
    if (!file) {
        prompter.Show("Unable to read file list: " + path);
        return std::nullopt;
    }
    ListName result;
    char buffer[kListLineLimit + 1];
    std::string last;
    while (result.count < k && std::fgets(buffer, sizeof buffer, file)) {
        last = result.count == 0 ? WithoutByteOrderMark(buffer) : buffer;
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

// The name of column selection `wanted` in one CSV line: fields in line order, joined.
std::string CsvName(std::string_view line, const std::vector<int32_t>& wanted) {
    std::string name;
    int j = 0;
    ForEachToken(line, ",", [&](std::string_view field) {
        ++j;
        for (int32_t column : wanted) {
            if (column != j)
                continue;
            if (j == 1)
                name = field;
            else
                name += field;
        }
    });
    return name;
}

struct CsvSource {
    std::string path;
    std::vector<int32_t> wanted;
};

CsvSource ParseCsvSource(std::string_view csvList) {
    CsvSource csv;
    bool first = true;
    ForEachToken(csvList, ",", [&](std::string_view field) {
        if (first)
            csv.path = field;
        else
            csv.wanted.push_back(LeadingInt(field));
        first = false;
    });
    return csv;
}

std::string Printable(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '\0')
            out += "\\0";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

void RefuseName(std::string_view name, Prompter& prompter) {
    prompter.Show("This name from the file list is a path, not a file name: \"" + Printable(name) +
                      "\"\nNames may not hold /, .., line feeds, tabs or NUL characters.",
                  "File List Error");
}

// A range as messages show it.
std::string RangeText(PageRange range) {
    return range.first == range.last ? Format("page %d", range.first)
                                     : Format("pages %d-%d", range.first, range.last);
}

// The path of one output once its list name (if any) is known.
std::string ComposePath(const CJobList& list, int row, PageRange range, int k,
                        const std::string& title, int32_t offset, const SetupOptions& o,
                        const ListName* found) {
    const std::string& dir = list.Text(row, kColSplitTo);
    const std::string front = dir + kSeparator + (o.useSourceName ? title : std::string());
    std::string path;
    if (list.Text(row, kColIncrementName) == "Y") {
        std::string namePart;
        if (!found) {
            const int32_t start = LeadingInt(list.Text(row, kColIncrementStart));
            const int64_t n = start > 0 ? int64_t{k} + start - 1 : k;
            namePart = CounterText(o.counterWidth, n);
        } else {
            namePart = found->count == k ? found->name : Format("default_%d", k);
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

} // namespace

std::string ListFilePath(std::string_view names) {
    if (StartsWith(names, "filecsv:"))
        return ParseCsvSource(names.substr(8)).path;
    if (StartsWith(names, "file:"))
        return std::string(names.substr(5));
    return {};
}

std::string SourceTitle(const std::string& source) {
    std::string title = FileTitle(RemoveAll(source, ".pdf"));
    if (title.size() > 254)
        title.resize(254);
    return title;
}

bool IsPlainName(std::string_view name) {
    return name != ".." &&
           name.find_first_of(std::string_view("/\0\n\t", 4)) == std::string_view::npos;
}

ListName ReadListLine(const std::string& path, int k, Prompter& prompter, CNameListCache* cache) {
    auto line = ReadKthLine(path, k, prompter, cache);
    return line ? *line : ListName{-1, {}};
}

ListName ReadListCsv(const std::string& csvList, int k, Prompter& prompter, CNameListCache* cache) {
    const CsvSource csv = ParseCsvSource(csvList);
    auto line = ReadKthLine(csv.path, k, prompter, cache);
    if (!line)
        return {-1, {}};
    return {line->count, CsvName(line->name, csv.wanted)};
}

std::string CounterText(int32_t width, int64_t number) {
    // A width of millions would make a name of megabytes; INT_MIN cannot even be negated.
    width = std::clamp(width, -kMaxCounterWidth, kMaxCounterWidth);
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
    if (list.Text(row, kColIncrementName) != "Y")
        return ComposePath(list, row, range, k, title, offset, context.options, nullptr);
    const std::string& names = list.Text(row, kColFileList);
    if (context.trace.IsOn())
        context.trace.Line(Format("m_listFilenames: %s\r\n", names.c_str()));
    if (names.empty())
        return ComposePath(list, row, range, k, title, offset, context.options, nullptr);
    ListName found;
    if (StartsWith(names, "filecsv:"))
        found = ReadListCsv(names.substr(8), k, context.prompter, context.lists);
    else if (StartsWith(names, "file:"))
        found = ReadListLine(names.substr(5), k, context.prompter, context.lists);
    else
        found = InlineListName(names, k);
    if (found.count == -1)
        return std::nullopt;
    // The job's plan checked every name, but a list file can change while the run works.
    if (found.count == k && !IsPlainName(found.name)) {
        RefuseName(found.name, context.prompter);
        return std::nullopt;
    }
    return ComposePath(list, row, range, k, title, offset, context.options, &found);
}

OutputPlan PlanOutputPaths(const CJobList& list, int row, const std::vector<PageRange>& ranges,
                           const std::string& title, int32_t offset, const SetupOptions& options,
                           Prompter& prompter, CNameListCache* lists, ClashPolicy clashes) {
    OutputPlan plan;
    CNameListCache ownLists;
    if (!lists)
        lists = &ownLists;
    const std::string& names = list.Text(row, kColFileList);
    const bool listed = list.Text(row, kColIncrementName) == "Y" && !names.empty();

    // The names of outputs 1, 2, ...: every list is read once here, not once per output.
    std::vector<std::string> entries;
    std::vector<int32_t> wanted;
    bool csv = false;
    if (listed) {
        if (StartsWith(names, "filecsv:")) {
            CsvSource csvSource = ParseCsvSource(std::string_view(names).substr(8));
            const CNameListCache::Lines* lines = lists->Get(csvSource.path);
            if (!lines)
                return {OutputPlan::Result::ListUnreadable, {}, {}};
            const int columns = lines->columns;
            for (int32_t column : csvSource.wanted) {
                if (column >= 1 && column <= columns)
                    continue;
                prompter.Show(Format("The file list asks for column %d of ", column) +
                                  csvSource.path +
                                  (column < 1 ? ", but columns count from 1."
                                              : ", but no line of it has that many columns."),
                              "File List Error");
                return {OutputPlan::Result::Refused, {}, {}};
            }
            entries.assign(lines->pieces.begin(),
                           lines->pieces.begin() + static_cast<ptrdiff_t>(std::min(
                                                       lines->pieces.size(), ranges.size())));
            wanted = std::move(csvSource.wanted);
            csv = true;
        } else if (StartsWith(names, "file:")) {
            const CNameListCache::Lines* lines = lists->Get(names.substr(5));
            if (!lines)
                return {OutputPlan::Result::ListUnreadable, {}, {}};
            entries.assign(lines->pieces.begin(),
                           lines->pieces.begin() + static_cast<ptrdiff_t>(std::min(
                                                       lines->pieces.size(), ranges.size())));
        } else {
            ForEachToken(names, ",", [&](std::string_view entry) {
                if (entries.size() < ranges.size())
                    entries.emplace_back(TrimSpaces(entry));
            });
        }
    }

    std::unordered_map<std::string, size_t> firstWith;
    plan.paths.reserve(ranges.size());
    plan.sameAs.reserve(ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
        const int k = static_cast<int>(i + 1);
        std::string path;
        if (listed) {
            ListName found;
            found.count = static_cast<int>(std::min(entries.size(), i + 1));
            if (found.count > 0) {
                const std::string& entry = entries[static_cast<size_t>(found.count - 1)];
                found.name = csv ? CsvName(entry, wanted) : entry;
            }
            if (found.count == k && !IsPlainName(found.name)) {
                RefuseName(found.name, prompter);
                return {OutputPlan::Result::Refused, {}, {}};
            }
            path = ComposePath(list, row, ranges[i], k, title, offset, options, &found);
        } else {
            path = ComposePath(list, row, ranges[i], k, title, offset, options, nullptr);
        }
        auto [at, added] = firstWith.emplace(path, i);
        plan.sameAs.push_back(added ? -1 : static_cast<int>(at->second));
        // The same pages saved twice under one name is harmless; different pages would
        // silently replace an earlier part.
        if (!added && !(ranges[at->second] == ranges[i]) &&
            plan.result != OutputPlan::Result::Refused) {
            prompter.Show("Two parts of this job would be saved as the same file:\n" + path +
                              "\nonce with " + RangeText(ranges[at->second]) + " and once with " +
                              RangeText(ranges[i]) + ".\nNothing of this job was written.",
                          "File Name Error");
            if (clashes == ClashPolicy::StopAtFirst)
                return {OutputPlan::Result::Refused, {}, {}};
            plan.result = OutputPlan::Result::Refused;
        }
        plan.paths.push_back(std::move(path));
    }
    return plan;
}

} // namespace core
