#include "cli/Cli.h"
#include "engine/QpdfSession.h"

#include <csignal>
#include <iostream>

#ifdef QS_LEAN_PROCESS
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// tcmalloc clears its page map as it starts: a 1 MiB root in its static data and a 2 MiB leaf
// in the heap, written with zeros although they were zero already. Those pages stay resident
// for the life of the process and so raised every split's peak by about 3 MiB, most of what
// kept small splits above qpdf's. They are handed back before any other thread exists: a later
// read of such a page finds zeros again, a write gets a fresh page. Nothing here may allocate
// (an allocation could write into a page found empty before it is handed back), so the memory
// map is read into a buffer on the stack and every buffer here lives there.
bool AllZero(const char* page, size_t size) {
    static const char zeros[4096] = {};
    for (size_t at = 0; at < size; at += sizeof zeros)
        if (std::memcmp(page + at, zeros, std::min(sizeof zeros, size - at)) != 0)
            return false;
    return true;
}

void ReturnZeroPagesOf(uintptr_t begin, uintptr_t end, size_t pageSize) {
    constexpr size_t kChunk = 1024; // pages asked of mincore at once
    unsigned char resident[kChunk];
    uintptr_t run = 0; // start of the empty pages not yet handed back
    auto flush = [&](uintptr_t upTo) {
        if (run != 0)
            ::madvise(reinterpret_cast<void*>(run), upTo - run, MADV_DONTNEED);
        run = 0;
    };
    for (uintptr_t chunk = begin; chunk < end; chunk += kChunk * pageSize) {
        const size_t length = std::min<uintptr_t>(end - chunk, kChunk * pageSize);
        if (::mincore(reinterpret_cast<void*>(chunk), length, resident) != 0) {
            flush(chunk);
            continue;
        }
        for (size_t i = 0; i * pageSize < length; ++i) {
            const uintptr_t page = chunk + i * pageSize;
            if ((resident[i] & 1) && AllZero(reinterpret_cast<const char*>(page), pageSize)) {
                if (run == 0)
                    run = page;
            } else {
                flush(page);
            }
        }
    }
    flush(end);
}

// Code and read-only data that only the start used (the dynamic linker's symbol tables, the
// start-up code of the crypto libraries that qpdf links) stay mapped as well: pages still as
// in their file are let go, and what the run uses comes back from the page cache when touched.
// Pages the linker wrote (relocated read-only data) are private copies and stay.
void ReturnFilePagesOf(int pagemap, uintptr_t begin, uintptr_t end, size_t pageSize) {
    constexpr size_t kChunk = 1024;
    constexpr uint64_t kPresent = uint64_t{1} << 63, kFilePage = uint64_t{1} << 61;
    uint64_t entries[kChunk];
    uintptr_t run = 0;
    auto flush = [&](uintptr_t upTo) {
        if (run != 0)
            ::madvise(reinterpret_cast<void*>(run), upTo - run, MADV_DONTNEED);
        run = 0;
    };
    for (uintptr_t chunk = begin; chunk < end; chunk += kChunk * pageSize) {
        const size_t pages = std::min<uintptr_t>(end - chunk, kChunk * pageSize) / pageSize;
        const ssize_t got = ::pread(pagemap, entries, pages * sizeof(uint64_t),
                                    static_cast<off_t>(chunk / pageSize * sizeof(uint64_t)));
        if (got != static_cast<ssize_t>(pages * sizeof(uint64_t))) {
            flush(chunk);
            continue;
        }
        for (size_t i = 0; i < pages; ++i) {
            const uintptr_t page = chunk + i * pageSize;
            if ((entries[i] & (kPresent | kFilePage)) == (kPresent | kFilePage)) {
                if (run == 0)
                    run = page;
            } else {
                flush(page);
            }
        }
    }
    flush(end);
}

// Reads a small file of /proc whole into `buffer`, terminated; false when it does not fit.
bool ReadWhole(const char* path, char* buffer, size_t size) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t used = 0;
    for (ssize_t got; used < size - 1 && (got = ::read(fd, buffer + used, size - 1 - used)) > 0;)
        used += static_cast<size_t>(got);
    ::close(fd);
    buffer[used] = '\0';
    return used < size - 1;
}

// A page found empty could be written by another thread before it is handed back, so this is
// done only while the process has one thread (something preloaded may have started others).
bool OnlyThread() {
    char stat[1024];
    if (!ReadWhole("/proc/self/stat", stat, sizeof stat))
        return false;
    // After "pid (name)", whose name may hold anything, the thread count is the 18th field.
    const char* at = std::strrchr(stat, ')');
    for (int field = 0; at && field < 18; ++field)
        at = std::strchr(at + 1, ' ');
    return at && std::strtol(at + 1, nullptr, 10) == 1;
}

void ReturnStartPages() {
    char maps[32768];
    // A map too large for the buffer is not the one this was measured on: left as it is.
    if (!OnlyThread() || !ReadWhole("/proc/self/maps", maps, sizeof maps))
        return;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0)
        return;
    const int pagemap = ::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
    constexpr uintptr_t kLargest = uintptr_t{256} << 20;
    for (char* line = maps; *line;) {
        char* next = std::strchr(line, '\n');
        if (next)
            *next++ = '\0';
        else
            next = line + std::strlen(line);
        // Fields split in place: begin-end, perms, offset, device, inode, name.
        char* field[6] = {};
        int fields = 0;
        for (char* at = line; *at && fields < 6;) {
            while (*at == ' ')
                ++at;
            if (!*at)
                break;
            field[fields++] = at;
            if (fields == 6)
                break;
            while (*at && *at != ' ')
                ++at;
            if (*at)
                *at++ = '\0';
        }
        char* dash = fields >= 5 ? std::strchr(field[0], '-') : nullptr;
        if (dash) {
            const uintptr_t begin = std::strtoull(field[0], nullptr, 16);
            const uintptr_t end = std::strtoull(dash + 1, nullptr, 16);
            const char* perms = field[1];
            const bool anonymous = std::strcmp(field[4], "0") == 0;
            const char* name = fields == 6 ? field[5] : "";
            if (end <= begin || end - begin > kLargest) {
                // not one of ours
            } else if (anonymous && std::strcmp(perms, "rw-p") == 0 &&
                       (*name == '\0' || std::strcmp(name, "[heap]") == 0)) {
                ReturnZeroPagesOf(begin, end, static_cast<size_t>(pageSize));
            } else if (!anonymous && pagemap >= 0 &&
                       (std::strcmp(perms, "r-xp") == 0 || std::strcmp(perms, "r--p") == 0)) {
                ReturnFilePagesOf(pagemap, begin, end, static_cast<size_t>(pageSize));
            }
        }
        line = next;
    }
    if (pagemap >= 0)
        ::close(pagemap);
}

} // namespace
#endif

int main(int argc, char** argv) {
#ifdef QS_LEAN_PROCESS
    ReturnStartPages();
#endif
    engine::LeaveLastSourceToProcessEnd();
    // Past a file-size limit (`ulimit -f`) the kernel would kill us in the middle of a write,
    // leaving a temporary file and no word why. Ignored, the write fails like one on a full
    // disk, and the run reports it and tidies up.
    std::signal(SIGXFSZ, SIG_IGN);
    std::ios::sync_with_stdio(false);
    const int status = cli::Run(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
#ifdef QS_LEAN_PROCESS
    // Every file is written and closed by now. What the libraries' destructors would do (GnuTLS
    // and p11-kit tidying up, brought back into memory for it) only raised the peak, by about
    // 1.5 MiB at 1,000 pages; the streams are all that must not be lost.
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(nullptr);
    ::_exit(status);
#endif
    return status;
}
