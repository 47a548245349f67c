#include "core/NameListCache.h"

#include "core/Files.h"
#include "core/Text.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace core {

namespace {

constexpr int kListLineLimit = 511;

} // namespace

const CNameListCache::Lines* CNameListCache::Get(const std::string& path) {
    struct stat st {};
    auto cached = m_files.find(path);
    if (cached != m_files.end() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        StampOf(st) == cached->second.stamp)
        return &cached->second.lines;

    FILE* file = OpenRegularFile(path);
    if (!file) {
        if (cached != m_files.end())
            m_files.erase(cached);
        return nullptr;
    }
    ++m_reads;
    Entry entry;
    // The stamp of what is read, taken from the open file itself.
    if (::fstat(::fileno(file), &st) == 0)
        entry.stamp = StampOf(st);
    char buffer[kListLineLimit + 1];
    for (bool first = true; std::fgets(buffer, sizeof buffer, file); first = false) {
        std::string line;
        for (const char* c = first ? WithoutByteOrderMark(buffer).data() : buffer; *c; ++c)
            if (*c != '\r' && *c != '\n')
                line += *c;
        int count = 0;
        ForEachToken(line, ",", [&](std::string_view) { ++count; });
        entry.lines.columns = std::max(entry.lines.columns, count);
        if (entry.lines.pieces.size() < kMaxPieces)
            entry.lines.pieces.push_back(std::move(line));
    }
    std::fclose(file);
    Entry& kept = m_files[path];
    kept = std::move(entry);
    return &kept.lines;
}

} // namespace core
