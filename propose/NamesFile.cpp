#include "propose/NamesFile.h"

#include "core/AtomicFile.h"
#include "core/OutputNaming.h"
#include "propose/SafeName.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace propose {

namespace {

constexpr std::string_view kSuffix = ".names.txt";

// The longest numbered name, "-999" and the suffix, must still be a name the file system takes.
constexpr size_t kTitleRoom = NAME_MAX - 4 - kSuffix.size();

// A batch record keeps its fields apart with ';' and its records with line ends: a path with
// one of those would come back cut, and name another file.
bool SurvivesABatch(std::string_view path) {
    return path.find_first_of(";\r\n") == std::string_view::npos;
}

// The title the names file is called after: one that fits a file name and a batch record.
std::string NamesTitle(const std::string& source) {
    std::string title = CutName(core::SourceTitle(source), kTitleRoom);
    for (char& c : title)
        if (c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '_';
    return title.empty() ? "parts" : title;
}

// The working folder as the run from another folder finds it; "" when it cannot be told, or
// when it would not survive a batch (the name alone still serves in the working folder).
std::string WorkingFolderPrefix() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer) || buffer[0] != '/' || !SurvivesABatch(buffer))
        return {};
    std::string folder = buffer;
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

// Whichever way the list spells its path, it names the file itself.
bool Names(const std::string& list, const NamesFile& file) {
    struct stat info {};
    const std::string path = core::ListFilePath(list);
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && info.st_dev == file.stamp.device &&
           info.st_ino == file.stamp.inode;
}

} // namespace

NamesFile WriteNamesFile(const std::string& source, const std::vector<std::string>& names,
                         std::string& failure) {
    std::string text;
    for (const std::string& name : names)
        text += name + "\r\n";
    const std::string title = NamesTitle(source);
    const std::string folder = WorkingFolderPrefix();
    for (int k = 1; k < 1000; ++k) {
        const std::string file =
            title + (k > 1 ? "-" + std::to_string(k) : std::string()) + std::string(kSuffix);
        NamesFile result;
        result.path = folder + file;
        result.list = "file:" + result.path;
        struct stat info {};
        if (::lstat(file.c_str(), &info) == 0) {
            // Only a plain file of ours is taken again; a link planted under the name is not.
            if (core::ReadOwnFile(file) == text)
                return result;
            continue;
        }
        // Never over a file that appeared meanwhile: that one is tried again as the others.
        core::CAtomicFile out(file);
        if (out.Open() && out.Write(text) && out.Commit(core::CAtomicFile::Replace::No)) {
            result.created = true;
            if (::lstat(file.c_str(), &info) == 0)
                result.stamp = core::StampOf(info);
            return result;
        }
        if (::lstat(file.c_str(), &info) != 0)
            break;
        --k;
    }
    failure = "Cannot write the names of the parts to " + title + std::string(kSuffix) + ".";
    return {};
}

bool IsNamesFileOf(const std::string& list, const std::string& source) {
    if (list.rfind("file:", 0) != 0 || list.size() < kSuffix.size() ||
        list.compare(list.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return false;
    const std::string name = core::FileTitle(list.substr(5));
    const std::string title = NamesTitle(source);
    if (name.rfind(title, 0) != 0 || name.size() < title.size() + kSuffix.size())
        return false;
    // "TITLE.names.txt" or "TITLE-K.names.txt", whether the list names it with its folder or,
    // as older batches do, alone.
    const std::string number =
        name.substr(title.size(), name.size() - title.size() - kSuffix.size());
    return number.empty() || (number.size() > 1 && number[0] == '-' &&
                              number.find_first_not_of("0123456789", 1) == std::string::npos);
}

void CWrittenNames::Add(const NamesFile& file) {
    if (!file.created)
        return;
    for (const NamesFile& known : m_files)
        if (known.stamp.device == file.stamp.device && known.stamp.inode == file.stamp.inode)
            return;
    m_files.push_back(file);
}

bool CWrittenNames::Holds(const std::string& list) const {
    for (const NamesFile& file : m_files)
        if (Names(list, file))
            return true;
    return false;
}

void CWrittenNames::RemoveUnused(const std::vector<std::string>& kept, bool final) {
    std::vector<NamesFile> still;
    for (const NamesFile& file : m_files) {
        bool used = false;
        for (const std::string& list : kept)
            used = used || Names(list, file);
        struct stat info {};
        // A file changed since (edited by hand, or another one now under its name) is no
        // longer only the proposal's.
        if (!used && ::lstat(file.path.c_str(), &info) == 0 && core::StampOf(info) == file.stamp)
            ::unlink(file.path.c_str());
        else if (used)
            still.push_back(file);
    }
    m_files = final ? std::vector<NamesFile>{} : std::move(still);
}

} // namespace propose
