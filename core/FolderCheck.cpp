#include "core/FolderCheck.h"

#include "core/Files.h"
#include "core/Text.h"

#include <cerrno>
#include <sys/stat.h>

namespace core {

namespace {

enum class Kind { Missing, Folder, Other };

Kind KindOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Kind::Missing;
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
}

// The folder that would hold `path`; trailing separators do not make a level of their own.
std::string ParentOf(std::string_view path) {
    while (path.size() > 1 && path.back() == kSeparator)
        path.remove_suffix(1);
    const size_t pos = path.rfind(kSeparator);
    if (pos == std::string_view::npos)
        return {};
    if (pos == 0)
        return std::string(1, kSeparator);
    return std::string(path.substr(0, pos));
}

int Report(int code, const std::string& path, Prompter& prompter) {
    const char* format = code == kFolderInvalid
                             ? "The folder:\n\n%s\n\nis invalid. Please reenter."
                             : "The folder:\n\n%s\n\ncan not be created. Please double check.";
    prompter.Show(Format(format, path.c_str()), {}, Buttons::Ok, Icon::Warning);
    return code;
}

} // namespace

int CheckFolderSyntax(std::string_view path, bool skipRootTest) {
    if (path.empty() || path.front() != kSeparator)
        return kFolderInvalid;
    if (!skipRootTest && KindOf(ParentOf(path)) != Kind::Folder)
        return kFolderNotCreatable;
    return kFolderOk;
}

int CheckFolder(const std::string& path, Prompter& prompter) {
    if (const int code = CheckFolderSyntax(path, true); code != kFolderOk)
        return Report(code, path, prompter);
    switch (KindOf(path)) {
    case Kind::Folder:
        return kFolderOk;
    case Kind::Other:
        // A file (or device) of that name would make every save into it fail later, in the
        // middle of a run; say so now, while the user can still type another name.
        return Report(kFolderInvalid, path, prompter);
    case Kind::Missing:
        break;
    }
    const Answer answer = prompter.Show(
        Format("The folder:\n\n%s\n\ndoes not exist. Do you want the folder to be created?",
               path.c_str()),
        {}, Buttons::YesNo, Icon::Question);
    if (answer != Answer::Yes)
        return kFolderDeclined;
    if (const int code = CheckFolderSyntax(path, false); code != kFolderOk)
        return Report(code, path, prompter);
    // The user asked for this folder: make it now, one level, as the split run would, so that
    // what the field names exists and a failure shows while it can still be corrected.
    if (::mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && KindOf(path) == Kind::Folder))
        return Report(kFolderNotCreatable, path, prompter);
    return kFolderOk;
}

} // namespace core
