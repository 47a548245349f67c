#include "ui/desktop/OpenLink.h"

#include "core/Files.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>

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

// Asks xdg-mime for the desktop id of the program that opens text/html; `done` gets it, or
// nothing when there is none, it fails or takes over five seconds.
void QueryHtmlHandler(QObject* context, std::function<void(std::optional<std::string>)> done) {
    auto* query = new QProcess(context);
    auto* limit = new QTimer(query);
    limit->setSingleShot(true);
    // `done` may show a box and wait in it for the user, while the query is only deleted once
    // that wait is over: the time limit must not run out meanwhile and answer a second time.
    auto finish = [query, limit, done](std::optional<std::string> id) {
        limit->stop();
        limit->disconnect();
        query->disconnect();
        query->deleteLater(); // ends it, if it still runs
        done(std::move(id));
    };
    QObject::connect(limit, &QTimer::timeout, query, [finish] { finish(std::nullopt); });
    QObject::connect(query, &QProcess::errorOccurred, query, [finish](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finish(std::nullopt);
    });
    QObject::connect(query, &QProcess::finished, query,
                     [query, finish](int code, QProcess::ExitStatus status) {
                         QString id = QString::fromUtf8(query->readAllStandardOutput()).trimmed();
                         // Several ids may come back, separated by semicolons; the first is the
                         // preferred one.
                         id = id.section(QLatin1Char(';'), 0, 0).trimmed();
                         if (status != QProcess::NormalExit || code != 0 || id.isEmpty() ||
                             id.contains(QLatin1Char('/')))
                             finish(std::nullopt);
                         else
                             finish(id.toStdString());
                     });
    limit->start(5000);
    query->start(QStringLiteral("xdg-mime"),
                 {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
}

// The browser's command line for an address, from the desktop entry of its id.
std::optional<std::vector<std::string>> BrowserCommand(const std::optional<std::string>& id,
                                                       const std::string& address) {
    if (!id)
        return std::nullopt;
    auto file = FindDesktopFile(*id);
    if (!file)
        return std::nullopt;
    auto text = core::ReadWholeFile(*file);
    if (!text)
        return std::nullopt;
    auto exec = DesktopEntryExec(*text);
    if (!exec)
        return std::nullopt;
    return FallbackCommand(*exec, address);
}

} // namespace

namespace {

// Starts argv[0] with a clean signal state and a process group of its own, so that neither our
// blocked signals nor a Ctrl+C in our terminal reach the browser, and it outlives us. The pid,
// or 0 with outcome.spawnError set.
pid_t Spawn(const std::vector<std::string>& argv, ProgramOutcome& outcome) {
    if (argv.empty() || argv.front().empty()) {
        outcome.spawnError = ENOENT;
        return 0;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
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
    const int error = ::posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    outcome.spawnError = error;
    return error == 0 ? pid : 0;
}

// Whether the program has ended (its status then in outcome); false while it runs.
bool Ended(pid_t pid, ProgramOutcome& outcome) {
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done != pid)
        return done < 0; // not our child any more: nothing left to wait for
    outcome.exited = true;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

// A program still running after the wait is the handler itself: it runs on, reaped when it ends.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

ProgramOutcome RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds wait) {
    ProgramOutcome outcome;
    const pid_t pid = Spawn(argv, outcome);
    if (pid == 0)
        return outcome;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!Ended(pid, outcome)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ReapLater(pid);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return outcome;
}

void RunProgramAsync(const std::vector<std::string>& argv, std::chrono::milliseconds wait,
                     QObject* context, std::function<void(const ProgramOutcome&)> done) {
    ProgramOutcome outcome;
    const pid_t pid = Spawn(argv, outcome);
    QPointer<QObject> receiver(context);
    if (pid == 0) {
        QTimer::singleShot(0, context, [outcome, done] { done(outcome); });
        return;
    }
    // Looked at between events, so the window goes on meanwhile; the timer belongs to the
    // application, so the child is reaped even when the one who asked has gone.
    auto* poll = new QTimer(QCoreApplication::instance());
    const auto deadline = std::chrono::steady_clock::now() + wait;
    QObject::connect(poll, &QTimer::timeout, poll, [=]() mutable {
        const bool ended = Ended(pid, outcome);
        if (!ended && std::chrono::steady_clock::now() < deadline)
            return;
        if (!ended)
            ReapLater(pid);
        poll->deleteLater();
        if (receiver)
            done(outcome);
    });
    poll->start(10);
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

void OpenLinkAsync(const std::string& rawAddress, QObject* context, std::function<void(int)> done) {
    // A relative name that begins with a hyphen would be read as an option.
    const std::string address = rawAddress.starts_with('-') ? "./" + rawAddress : rawAddress;
    RunProgramAsync({"xdg-open", address}, std::chrono::milliseconds(5000), context,
                    [address, context, done](const ProgramOutcome& outcome) {
                        const int result = XdgOpenResult(outcome);
                        if (result > 32)
                            return done(result);
                        // When the desktop's opener cannot do it, the browser registered for web
                        // pages can.
                        QueryHtmlHandler(context, [address, context, done,
                                                   result](const std::optional<std::string>& id) {
                            const auto command = BrowserCommand(id, address);
                            if (!command)
                                return done(result);
                            RunProgramAsync(*command, std::chrono::milliseconds(1000), context,
                                            [done](const ProgramOutcome& started) {
                                                done(ProgramStartResult(started));
                                            });
                        });
                    });
}

int OpenLink(const std::string& address) {
    // The same steps, for a caller that cannot go on without the answer.
    QObject context;
    QEventLoop loop;
    std::optional<int> result;
    OpenLinkAsync(address, &context, [&](int code) {
        result = code;
        loop.quit();
    });
    if (!result)
        loop.exec();
    return *result;
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
