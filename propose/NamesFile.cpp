#include "propose/NamesFile.h"

#include "core/AtomicFile.h"
#include "core/Files.h"
#include "core/OutputNaming.h"

#include <sys/stat.h>

namespace propose {

std::string WriteNamesFile(const std::string& source, const std::vector<std::string>& names,
                           std::string& failure) {
    std::string text;
    for (const std::string& name : names)
        text += name + "\r\n";
    std::string title = core::SourceTitle(source);
    if (title.empty())
        title = "parts";
    for (int k = 1; k < 1000; ++k) {
        const std::string file =
            title + (k > 1 ? "-" + std::to_string(k) : std::string()) + ".names.txt";
        struct stat info {};
        if (::lstat(file.c_str(), &info) == 0) {
            if (core::ReadWholeFile(file) == text)
                return "file:" + file;
            continue;
        }
        // Never over a file that appeared meanwhile: that one is tried again as the others.
        core::CAtomicFile out(file);
        if (out.Open() && out.Write(text) && out.Commit(core::CAtomicFile::Replace::No))
            return "file:" + file;
        if (::lstat(file.c_str(), &info) != 0)
            break;
        --k;
    }
    failure = "Cannot write the names of the parts to " + title + ".names.txt.";
    return {};
}

} // namespace propose
