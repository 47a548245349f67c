#pragma once

#include <string>
#include <sys/stat.h>

namespace engine {

// Opens `path` read-only, but only when it is a regular file: a FIFO, a device or a folder
// named as a source must never block or feed the program endlessly. Returns the descriptor
// (close-on-exec), or -1 with errno set (ENODEV for anything that is not a regular file).
// `info`, when given, receives the file's status.
int OpenRegularFile(const std::string& path, struct stat* info = nullptr);

// True when an open failed for a reason that may pass (too many open files, no memory), as
// opposed to a file that does not exist or may not be read.
bool IsTransientOpenError(int error);

} // namespace engine
