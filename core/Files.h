#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace core {

// The directory separator of the platform; every place that joins, searches or reduces
// separators in a path uses this one.
inline constexpr char kSeparator = '/';

// The last path component, as it stands (no extension is removed).
std::string FileTitle(std::string_view path);

// Everything before the last separator, looking at every position but the first; nullopt when
// there is none, in which case the caller keeps whatever directory it had.
std::optional<std::string> DirectoryOf(std::string_view path);

// Renames, but never over an existing file (false with errno EEXIST then).
bool RenameNoReplace(const std::string& from, const std::string& to);

// Which file a path names and in what state: device, inode, size and modification time. A file
// read once is served again only while its stamp is unchanged.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const struct stat& st);

// Opens `path` read-only, but only when it is a regular file: a FIFO, a device or a folder must
// never block or feed the program endlessly. Returns the descriptor (close-on-exec), or -1 with
// errno set (ENODEV for anything that is not a regular file); `info` receives its status.
int OpenRegularFd(const std::string& path, struct stat* info = nullptr);

// Opens a file the program names itself in the working folder (split.log, debug.txt, setup.ini,
// default.spl), which a folder received from someone else may have planted: never through a
// symbolic link, never a FIFO or a device (nothing may block or feed the program without end),
// never another user's file, never a file with a second name elsewhere. `flags` are open(2)'s
// access and creation flags; O_TRUNC is applied only once the file has passed the checks.
// Returns the descriptor (close-on-exec, blocking), or -1 with errno set: ELOOP for a link,
// ENODEV for what is not a regular file, EPERM for a file of another user or with other names.
int OpenOwnFd(const std::string& path, int flags, struct stat* info = nullptr);

// True when an open failed for a reason that may pass (too many open files, no memory), as
// opposed to a file that does not exist or may not be read.
bool IsTransientOpenError(int error);

// Opens a regular file for reading; nullptr for anything else (a FIFO, a device, a folder),
// which is treated as missing, so reading it can never block or run without end.
FILE* OpenRegularFile(const std::string& path);

// The bytes of a regular file; nullopt when it is missing, not a regular file or unreadable.
std::optional<std::string> ReadWholeFile(const std::string& path);

// The bytes of a file the program names itself, opened as OpenOwnFd opens it; nullopt when it
// is missing, unreadable or refused.
std::optional<std::string> ReadOwnFile(const std::string& path);

// Hands what the file open as `fd` holds to `take` a block at a time, as it is read, and
// closes it: a file of any size then costs no more memory than what `take` keeps. A byte order
// mark at the start (as editors and spreadsheets save UTF-8) is left out. False when reading
// failed.
bool ReadInBlocks(int fd, const std::function<void(std::string_view)>& take);

} // namespace core
