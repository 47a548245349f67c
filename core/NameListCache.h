#pragma once

#include "core/Files.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace core {

// The name-list files of one job, each read once and kept while it stays the same file with
// the same size and modification time; a file changed on disk is read again. Naming asks for
// the k-th line of a list for every output, and reading the list from its top each time made
// a long job quadratic.
class CNameListCache {
  public:
    // A list file as the readers see it: line pieces of at most 511 bytes (a longer line
    // counts as several) with every CR and LF removed, and the most comma fields of any line.
    struct Lines {
        std::vector<std::string> pieces; // the first kMaxPieces
        int columns = 0;
    };

    // More pieces than any job has outputs.
    static constexpr size_t kMaxPieces = 20000;

    // The file's lines; nullptr when it cannot be read (nothing is said here). Valid until
    // the next call.
    const Lines* Get(const std::string& path);

    // How many files were read from disk so far (not served from the cache).
    int Reads() const { return m_reads; }

  private:
    struct Entry {
        FileStamp stamp;
        Lines lines;
    };

    std::map<std::string, Entry> m_files;
    int m_reads = 0;
};

} // namespace core
