#include "ui/desktop/OpenLink.h"

#include "core/Files.h"

#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ui {

namespace {

int SpawnErrorResult(int error) {
    switch (error) {
    case ENOENT:
        return kLinkFileNotFound;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
        return kLinkAccessDenied;
    case ENOMEM:
    case EAGAIN:
        return kLinkOutOfMemory;
    case ENOEXEC:
        return kLinkBadExecutable;
    default:
        return -error;
    }
}

bool IsOpenFieldCode(char c) {
    return c == 'u' || c == 'U' || c == 'f' || c == 'F';
}

// The codes that expand to something else than the file or address (%i %c %k) and the
// deprecated ones, all dropped when they stand alone.
bool IsOtherFieldCode(char c) {
    return std::string_view("ickdDnNvm").find(c) != std::string_view::npos;
}

// The desktop id of the program that opens text/html, asked of xdg-mime.
std::optional<std::string> DefaultHtmlHandler() {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForFinished(5000) || query.exitStatus() != QProcess::NormalExit ||
        query.exitCode() != 0)
        return std::nullopt;
    QString id = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    // Several ids may come back, separated by semicolons; the first is the preferred one.
    id = id.section(QLatin1Char(';'), 0, 0).trimmed();
    if (id.isEmpty() || id.contains(QLatin1Char('/')))
        return std::nullopt;
    return id.toStdString();
}

} // namespace

ProgramOutcome RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds wait) {
    ProgramOutcome outcome;
    if (argv.empty() || argv.front().empty()) {
        outcome.spawnError = ENOENT;
        return outcome;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The started program gets a clean signal state and a process group of its own, so that
    // neither our blocked signals nor a Ctrl+C in our terminal reach the browser.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, number);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    int error = ::posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        outcome.spawnError = error;
        return outcome;
    }
    // xdg-open hands the address over and ends; a program that is still running after the wait
    // is the handler itself, which we must not hold the window for.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            outcome.exited = true;
            outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return outcome;
        }
        if (done < 0 && errno != EINTR)
            return outcome;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return outcome;
}

int XdgOpenResult(const ProgramOutcome& outcome) {
    if (outcome.spawnError != 0)
        return SpawnErrorResult(outcome.spawnError);
    if (!outcome.exited)
        return kLinkOpened;
    switch (outcome.exitCode) {
    case 0:
        return kLinkOpened;
    case 2:
        return kLinkFileNotFound;
    case 3:
    case 4:
        return kLinkNoAssociation;
    default:
        return -outcome.exitCode;
    }
}

int ProgramStartResult(const ProgramOutcome& outcome) {
    if (outcome.spawnError != 0)
        return SpawnErrorResult(outcome.spawnError);
    if (outcome.exited && outcome.exitCode != 0)
        return -outcome.exitCode;
    return kLinkOpened;
}

std::optional<std::vector<std::string>> ExecArguments(std::string_view exec) {
    // First the escapes every string value of a desktop entry may hold.
    std::string value;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) {
            char next = exec[i + 1];
            const char* plain = next == 's'    ? " "
                                : next == 'n'  ? "\n"
                                : next == 't'  ? "\t"
                                : next == 'r'  ? "\r"
                                : next == '\\' ? "\\"
                                               : nullptr;
            if (plain) {
                value += plain;
                ++i;
                continue;
            }
        }
        value += exec[i];
    }
    // Then the command line's own quoting.
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == ' ') {
            if (inArgument)
                args.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else if (c == '"') {
            inArgument = true;
            bool closed = false;
            for (++i; i < value.size(); ++i) {
                char q = value[i];
                if (q == '\\' && i + 1 < value.size() &&
                    (value[i + 1] == '"' || value[i + 1] == '`' || value[i + 1] == '$' ||
                     value[i + 1] == '\\')) {
                    current += value[++i];
                } else if (q == '"') {
                    closed = true;
                    break;
                } else {
                    current += q;
                }
            }
            if (!closed)
                return std::nullopt;
        } else {
            inArgument = true;
            current += c;
        }
    }
    if (inArgument)
        args.push_back(std::move(current));
    return args;
}

std::optional<std::vector<std::string>> FallbackCommand(std::string_view exec,
                                                        const std::string& address) {
    auto args = ExecArguments(exec);
    if (!args)
        return std::nullopt;
    // The program itself is never a field code: the address would be run as a program.
    if (args->empty() || args->front().starts_with('%'))
        return std::nullopt;
    std::vector<std::string> command;
    bool placed = false;
    for (const std::string& arg : *args) {
        // An argument that is a field code and nothing else stands for its value alone.
        if (arg.size() == 2 && arg[0] == '%' && arg[1] != '%') {
            if (IsOpenFieldCode(arg[1])) {
                if (!placed)
                    command.push_back(address);
                placed = true;
            } else if (!IsOtherFieldCode(arg[1])) {
                return std::nullopt;
            }
            continue; // %i, %c, %k and the deprecated codes carry nothing here
        }
        std::string expanded;
        for (size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] != '%') {
                expanded += arg[i];
                continue;
            }
            // A code inside a longer argument would put the address into a text the program
            // reads its own way (sh -c "exec browser %u" runs it as shell code): such an
            // entry is not used at all.
            if (i + 1 >= arg.size() || arg[i + 1] != '%')
                return std::nullopt;
            expanded += '%';
            ++i;
        }
        command.push_back(std::move(expanded));
    }
    if (!placed)
        command.push_back(address);
    return command;
}

std::optional<std::string> DesktopEntryExec(std::string_view fileText) {
    bool inEntry = false;
    while (!fileText.empty()) {
        size_t end = fileText.find('\n');
        std::string_view line = fileText.substr(0, end);
        fileText = end == std::string_view::npos ? std::string_view{} : fileText.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry)
            continue;
        size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ')
            key.remove_suffix(1);
        if (key != "Exec")
            continue;
        std::string_view value = line.substr(equals + 1);
        while (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
        return std::string(value);
    }
    return std::nullopt;
}

std::optional<std::string> FindDesktopFile(const std::string& desktopId) {
    // An id names a file inside the applications folders, never a way out of them.
    if (desktopId.empty() || desktopId.find("..") != std::string::npos ||
        desktopId.find('/') != std::string::npos || desktopId.front() == '.')
        return std::nullopt;
    std::vector<std::string> roots;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome)
        roots.emplace_back(dataHome);
    else if (home && *home)
        roots.push_back(std::string(home) + "/.local/share");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    for (size_t start = 0; start <= dirs.size();) {
        size_t colon = dirs.find(':', start);
        std::string dir =
            dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty())
            roots.push_back(dir);
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    std::vector<std::string> names{desktopId};
    std::string nested = desktopId;
    for (size_t dash = nested.find('-'); dash != std::string::npos; dash = nested.find('-')) {
        nested[dash] = '/';
        names.push_back(nested);
    }
    for (const std::string& root : roots) {
        for (const std::string& name : names) {
            std::string path = root + "/applications/" + name;
            if (::access(path.c_str(), R_OK) == 0)
                return path;
        }
    }
    return std::nullopt;
}

int OpenLink(const std::string& rawAddress) {
    // A relative name that begins with a hyphen would be read as an option.
    const std::string address = rawAddress.starts_with('-') ? "./" + rawAddress : rawAddress;
    const int result =
        XdgOpenResult(RunProgram({"xdg-open", address}, std::chrono::milliseconds(5000)));
    if (result > 32)
        return result;
    // When the desktop's opener cannot do it, the browser registered for web pages can.
    auto desktopId = DefaultHtmlHandler();
    if (!desktopId)
        return result;
    auto file = FindDesktopFile(*desktopId);
    if (!file)
        return result;
    auto text = core::ReadWholeFile(*file);
    if (!text)
        return result;
    auto exec = DesktopEntryExec(*text);
    if (!exec)
        return result;
    auto command = FallbackCommand(*exec, address);
    if (!command)
        return result;
    return ProgramStartResult(RunProgram(*command, std::chrono::milliseconds(1000)));
}

std::string LinkErrorText(int code) {
    switch (code) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 11:
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
        return "A sharing violation occurred. ";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 28:
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
               "being processed.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    case 32:
        return "The specified dynamic-link library was not found.";
    default:
        return "Unknown Error (" + std::to_string(code) + ") occurred.";
    }
}

void ReportLinkError(core::Prompter& prompter, int code) {
    prompter.Show("Unable to open hyperlink:\n\n" + LinkErrorText(code), {}, core::Buttons::Ok,
                  core::Icon::Warning);
}

} // namespace ui
