#include "storage/LogMerge.h"

#include "core/Files.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <queue>
#include <sys/resource.h>

namespace storage {

namespace {

// "YYYY-MM-DD HH:MM:SS" sorts by time as text.
constexpr size_t kTimeWidth = 19;

struct Source {
    std::unique_ptr<FILE, int (*)(FILE*)> file{nullptr, std::fclose};
    size_t index = 0;
    std::string line;

    // The next line with its end; false at the end of the file.
    bool Next() {
        char* buffer = nullptr;
        size_t capacity = 0;
        const ssize_t n = ::getline(&buffer, &capacity, file.get());
        if (n > 0) {
            line.assign(buffer, static_cast<size_t>(n));
            if (line.back() != '\n')
                line += "\r\n";
        }
        std::free(buffer);
        return n > 0;
    }
    std::string_view Time() const {
        return std::string_view(line).substr(0, std::min(kTimeWidth, line.size()));
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
        out.write(sources[i].line.data(), static_cast<std::streamsize>(sources[i].line.size()));
        if (sources[i].Next())
            heads.push(i);
    }
    out.flush();
    return static_cast<bool>(out);
}

} // namespace storage
