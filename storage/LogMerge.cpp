#include "storage/LogMerge.h"

#include "core/Files.h"
#include "storage/LogReader.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <queue>
#include <sys/resource.h>

namespace storage {

namespace {

// "YYYY-MM-DD HH:MM:SS" sorts by time as text.
constexpr size_t kTimeWidth = 19;

// One log being merged. Only the start of its next line (the time it sorts by) is held; the
// rest is copied through when the line's turn comes, so a line of any length (a damaged log, a
// file that is no log at all) costs no more memory than a short one.
struct Source {
    std::unique_ptr<FILE, int (*)(FILE*)> file{nullptr, std::fclose};
    size_t index = 0;
    std::string head;   // the line's first bytes, up to kTimeWidth or its end
    bool whole = false; // the head holds the whole line with its end
    std::string ahead;  // bytes read to look past a lone LF, not yet taken (read backwards)

    int Get() {
        if (ahead.empty())
            return ::getc_unlocked(file.get());
        const int c = static_cast<unsigned char>(ahead.back());
        ahead.pop_back();
        return c;
    }

    // Reads the start of the next line; false at the end of the file.
    bool Next() {
        head.clear();
        whole = false;
        while (head.size() < kTimeWidth) {
            const int c = Get();
            if (c == EOF)
                break;
            head += static_cast<char>(c);
            if (c == '\n') {
                whole = true;
                break;
            }
        }
        return !head.empty();
    }
    std::string_view Time() const { return head; }

    // After a LF not preceded by CR: whether the line goes on, as it does after a line feed in
    // a file's name (every line this program writes ends in CR LF and begins with its time).
    // What was read to tell stays to be read again.
    bool GoesOn() {
        std::string next;
        for (int c; next.size() < kTimeWidth && (c = Get()) != EOF;) {
            next += static_cast<char>(c);
            if (c == '\n')
                break;
        }
        ahead.append(next.rbegin(), next.rend());
        return !next.empty() && !BeginsWithLogTime(next);
    }

    // Writes the line whose start was read, with its end; a last line left without one (a
    // run that was killed) gets one, so it cannot swallow the line that follows it.
    void Copy(std::ostream& out) {
        out.write(head.data(), static_cast<std::streamsize>(head.size()));
        char last = head.back(); // the byte before the one read next
        if (whole) {
            if ((head.size() > 1 && head[head.size() - 2] == '\r') || !GoesOn())
                return;
            last = '\n';
        }
        char buffer[8192];
        size_t n = 0;
        for (;;) {
            const int c = Get();
            if (c != EOF)
                buffer[n++] = static_cast<char>(c);
            if (c == EOF || c == '\n' || n == sizeof buffer) {
                out.write(buffer, static_cast<std::streamsize>(n));
                n = 0;
            }
            if (c == '\n' && (last == '\r' || !GoesOn()))
                return;
            if (c == EOF)
                break;
            last = static_cast<char>(c);
        }
        out << "\r\n";
    }
};

// A merge of many shards keeps one file open per shard; let the process have as many as the
// system allows it.
void RaiseOpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

bool MergeLogs(const std::vector<std::string>& paths, std::ostream& out, std::string& failedPath) {
    RaiseOpenFileLimit();
    std::vector<Source> sources(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        sources[i].file.reset(core::OpenRegularFile(paths[i]));
        sources[i].index = i;
        if (!sources[i].file) {
            failedPath = paths[i];
            return false;
        }
    }
    // Earliest time first; on equal times the file named first.
    auto later = [&](size_t a, size_t b) {
        const auto ta = sources[a].Time(), tb = sources[b].Time();
        return ta != tb ? ta > tb : a > b;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heads(later);
    for (size_t i = 0; i < sources.size(); ++i)
        if (sources[i].Next())
            heads.push(i);
    while (!heads.empty()) {
        const size_t i = heads.top();
        heads.pop();
        sources[i].Copy(out);
        if (sources[i].Next())
            heads.push(i);
    }
    out.flush();
    return static_cast<bool>(out);
}

} // namespace storage
