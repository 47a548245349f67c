#include "storage/BatchFile.h"

#include "core/Text.h"

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

// The fields between the separators "; " this program writes, leading spaces taken off.
std::vector<std::string> FieldsBetweenWrittenSeparators(std::string_view line) {
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
        const size_t end = line.find("; ", at);
        std::string_view field = line.substr(at, end == std::string_view::npos ? end : end - at);
        const size_t start = field.find_first_not_of(' ');
        fields.emplace_back(start == std::string_view::npos ? std::string_view{}
                                                            : field.substr(start));
        if (end == std::string_view::npos)
            return fields;
        at = end + 2;
    }
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
        if (line.empty() || line.size() > kMaxRecordBytes)
            continue;
        const core::NewJob job = ParseBatchRecord(line);
        // A path longer than the file system takes names no file: such a record is no job.
        if (job.fileName.size() >= PATH_MAX || job.moveTo.size() >= PATH_MAX ||
            job.splitTo.size() >= PATH_MAX)
            continue;
        core::AddFile(list, hooks, job);
    }
}

} // namespace storage
