#include "storage/BatchFile.h"

#include "core/Files.h"
#include "core/Text.h"

#include <algorithm>
#include <array>
#include <climits>

namespace storage {

std::string BatchRecord(const core::CJobList& list, int row) {
    std::string out;
    if (list.Text(row, core::kColSelected) == "No")
        out += '~';
    out += list.Text(row, core::kColFilename);
    for (int column = core::kColSplitParameters; column < core::kColumnCount; ++column) {
        out += "; ";
        out += list.Text(row, column);
    }
    out += "\r\r\n";
    return out;
}

std::string BatchFileText(const core::CJobList& list) {
    std::string out;
    for (int row = 0; row < list.Count(); ++row)
        out += BatchRecord(list, row);
    return out;
}

namespace {

constexpr size_t kFields = 13;

// The values between the separators "; " this program writes, as written (leading spaces
// kept).
std::vector<std::string_view> BetweenWrittenSeparators(std::string_view line) {
    std::vector<std::string_view> values;
    for (size_t at = 0;;) {
        const size_t end = line.find("; ", at);
        values.push_back(line.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos)
            return values;
        at = end + 2;
    }
}

std::string WithoutLeadingSpaces(std::string_view value) {
    const size_t start = value.find_first_not_of(' ');
    return std::string(start == std::string_view::npos ? std::string_view{} : value.substr(start));
}

// Whether `fields` have the shape this program writes in the values no user types: counts
// and numbers as integers, the three flags as "Y", "N" or nothing.
bool WrittenShape(const std::vector<std::string>& fields) {
    const auto integer = [](const std::string& text) {
        const size_t digits = text.size() > 1 && text[0] == '-' ? 1 : 0;
        return text.size() > digits &&
               text.find_first_not_of("0123456789", digits) == std::string::npos;
    };
    const auto flag = [](const std::string& text) {
        return text.empty() || text == "Y" || text == "N";
    };
    return integer(fields[2]) && flag(fields[6]) && flag(fields[7]) && flag(fields[8]) &&
           integer(fields[10]) && integer(fields[11]) && integer(fields[12]);
}

// The record's fields between the written separators. A path or a name list holding "; " (a
// file "Smith; John.pdf") gives more values than fields; the values are then put back
// together in the one field of those a user names (file, folders, name list) where the rest
// keep the shape this program writes, the file name first. Empty when no way fits.
std::vector<std::string> FieldsBetweenWrittenSeparators(std::string_view line) {
    const std::vector<std::string_view> values = BetweenWrittenSeparators(line);
    // Fields of the given numbers of values, or nothing when a field would join an empty
    // value (no name holds "; ; ").
    const auto fieldsWith = [&](const std::array<size_t, kFields>& spans) {
        std::vector<std::string> fields;
        size_t at = 0;
        for (size_t span : spans) {
            for (size_t v = at; span > 1 && v < at + span; ++v)
                if (values[v].find_first_not_of(' ') == std::string_view::npos)
                    return std::vector<std::string>{};
            const char* begin = values[at].data();
            const std::string_view& last = values[at + span - 1];
            fields.push_back(WithoutLeadingSpaces(
                std::string_view(begin, static_cast<size_t>(last.data() + last.size() - begin))));
            at += span;
        }
        return fields;
    };
    std::array<size_t, kFields> spans;
    spans.fill(1);
    if (values.size() == kFields)
        return fieldsWith(spans);
    // A record holds a few such values at most; the bound keeps a line of many separators
    // from being tried every way.
    constexpr size_t kMostExtra = 4;
    if (values.size() < kFields || values.size() > kFields + kMostExtra)
        return {};
    const size_t extra = values.size() - kFields;
    constexpr size_t kNamed[] = {0, 5, 4, 9}; // file, split-to, move-to, name list
    for (size_t a = 0; a <= extra; ++a)
        for (size_t b = 0; a + b <= extra; ++b)
            for (size_t c = 0; a + b + c <= extra; ++c) {
                spans.fill(1);
                spans[kNamed[0]] += extra - a - b - c;
                spans[kNamed[1]] += a;
                spans[kNamed[2]] += b;
                spans[kNamed[3]] += c;
                // The dialog gives folders by their full paths.
                std::vector<std::string> fields = fieldsWith(spans);
                const auto folder = [](const std::string& path) {
                    return path.empty() || path[0] == '/';
                };
                if (!fields.empty() && WrittenShape(fields) && folder(fields[4]) &&
                    folder(fields[5]))
                    return fields;
            }
    return {};
}

} // namespace

core::NewJob ParseBatchRecord(std::string_view line) {
    // Fields are cut at every ";", so a value holding one ("/scans/a;b.pdf", a folder
    // "/out;old") was cut in two and moved every later field one place: the job vanished, or
    // its parts went to another folder. Where the separators this program writes (";" and a
    // space) give the record's thirteen fields, they are the fields; they are the same fields
    // for any record whose values hold no ";", and a record read either way is written back
    // to one read the same way again.
    std::vector<std::string> fields = FieldsBetweenWrittenSeparators(line);
    if (fields.size() != kFields) {
        fields.clear();
        core::ForEachToken(line, ";", [&](std::string_view token) {
            size_t start = token.find_first_not_of(' ');
            fields.emplace_back(start == std::string_view::npos ? std::string_view{}
                                                                : token.substr(start));
        });
    }
    fields.resize(kFields);
    auto number = [&](int field) {
        return core::LeadingInt(fields[static_cast<size_t>(field - 1)]);
    };
    auto text = [&](int field) -> std::string& { return fields[static_cast<size_t>(field - 1)]; };

    core::NewJob job;
    if (!text(1).empty() && text(1)[0] == '~') {
        job.selected = 0;
        job.fileName = text(1).substr(1);
    } else {
        job.selected = 1;
        job.fileName = text(1);
    }
    job.splitParameters = text(2);
    job.pageCount = number(3);
    job.moveTo = text(5);
    job.splitTo = text(6);
    job.incrementName = text(7);
    job.usePagesName = text(8);
    job.keepBookmarks = text(9);
    job.fileList = text(10);
    job.incrementStart = number(11);
    job.skipPages = number(12);
    job.pageOffset = number(13);
    return job;
}

void AddBatchRecords(std::string_view text, core::CJobList& list, const core::AddFileHooks& hooks) {
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
        for (int cr = 0; cr < 2 && !line.empty() && line.back() == '\r'; ++cr)
            line.remove_suffix(1);
        // A NUL ends every path the system is given: "/scans/report\0.pdf" would split and
        // move the file "/scans/report", which the record does not name. No name typed in the
        // window holds one, so such a record is damage, not a job.
        if (line.empty() || line.size() > kMaxRecordBytes ||
            line.find('\0') != std::string_view::npos)
            continue;
        const core::NewJob job = ParseBatchRecord(line);
        // A path longer than the file system takes names no file: such a record is no job.
        if (job.fileName.size() >= PATH_MAX || job.moveTo.size() >= PATH_MAX ||
            job.splitTo.size() >= PATH_MAX)
            continue;
        core::AddFile(list, hooks, job);
    }
}

bool AddBatchRecordsFrom(int fd, core::CJobList& list, const core::AddFileHooks& hooks) {
    // A record and the returns of its line end; what a longer line holds is passed over unread
    // into memory, and the line is skipped as it would be whole.
    constexpr size_t kHeld = kMaxRecordBytes + 2;
    std::string line;
    bool overlong = false;
    const bool read = core::ReadInBlocks(fd, [&](std::string_view chunk) {
        while (!chunk.empty()) {
            const size_t lf = chunk.find('\n');
            if (!overlong) {
                line.append(chunk.substr(0, std::min(lf, kHeld + 1 - line.size())));
                overlong = line.size() > kHeld;
            }
            if (lf == std::string_view::npos)
                break;
            chunk.remove_prefix(lf + 1);
            if (!overlong)
                AddBatchRecords(line, list, hooks);
            line.clear();
            overlong = false;
        }
    });
    if (!overlong)
        AddBatchRecords(line, list, hooks);
    return read;
}

} // namespace storage
