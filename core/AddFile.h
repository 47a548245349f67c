#pragma once

#include "core/JobList.h"

#include <cstdint>
#include <functional>
#include <string>

namespace core {

// The thirteen inputs of a new job, in the order callers think of them.
struct NewJob {
    int32_t pageCount = 0; // 0: unknown, count it now
    std::string fileName;
    int32_t selected = 1; // 1 gives "Yes", anything else "No"
    std::string splitParameters;
    std::string moveTo;
    std::string splitTo;
    std::string incrementName;
    std::string usePagesName;
    std::string keepBookmarks;
    std::string fileList;
    int32_t incrementStart = 0;
    int32_t skipPages = 0;
    int32_t pageOffset = 0;
};

// What adding a job needs from other parts of the program; any hook may be left empty.
struct AddFileHooks {
    // Page count of (path, row): -1 when the file cannot be read (the counter deselects the row),
    // 0 when it could not be counted.
    std::function<int32_t(const std::string& path, int row)> countPages;
    std::function<int(const std::string& path)> iconOf;
    std::function<void(int row)> promptParameters;
    std::function<void()> repaint;
};

inline constexpr int kAddFileAdded = 1;
inline constexpr int kAddFileRefused = -1;

// Appends one job; the only way a row comes into being. Returns kAddFileAdded, or
// kAddFileRefused when the name holds neither ".pdf" nor ".PDF".
int AddFile(CJobList& list, const AddFileHooks& hooks, const NewJob& job);

} // namespace core
