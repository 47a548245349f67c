#pragma once

#include "core/Prompter.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// Result codes of opening a link: greater than 32 is success, anything else names the failure
// with the codes of the error table below (2 file not found, 5 access denied, 31 no program for
// this kind of address, ...). Failures without a close code carry a negative number.
inline constexpr int kLinkOpened = 42;
inline constexpr int kLinkOutOfResources = 0;
inline constexpr int kLinkFileNotFound = 2;
inline constexpr int kLinkAccessDenied = 5;
inline constexpr int kLinkOutOfMemory = 8;
inline constexpr int kLinkBadExecutable = 11;
inline constexpr int kLinkNoAssociation = 31;

// The outcome of starting a program and waiting a while for it.
struct ProgramOutcome {
    int spawnError = 0;  // errno of a start that failed, 0 when it started
    bool exited = false; // it ended within the wait
    int exitCode = 0;    // its exit status, or 128 + signal when a signal ended it
};

// Starts argv[0] (searched on PATH) with an argument vector and waits up to `wait` for it to end.
// A program still running after the wait is left to run; it is reaped when it ends.
ProgramOutcome RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds wait);
// The same without holding up the caller: `done` gets the outcome from the event loop once the
// program has ended or the wait is over, unless `context` is gone by then.
void RunProgramAsync(const std::vector<std::string>& argv, std::chrono::milliseconds wait,
                     QObject* context, std::function<void(const ProgramOutcome&)> done);

// The result code for an xdg-open outcome (exit 0 success, 2 a named file is missing, 3 no
// method to open it, 4 the handler failed - gio and kde report a missing handler this way).
int XdgOpenResult(const ProgramOutcome& outcome);

// The result code for starting the fall-back browser: it counts as opened once it runs, unless
// it refuses at once.
int ProgramStartResult(const ProgramOutcome& outcome);

// The arguments of a desktop entry's Exec value, unquoted by the desktop-entry rules: the
// value's own escapes (\s \n \t \r \\), then double-quoted arguments in which \" \` \$ \\ stand
// for the character. nullopt when the quoting is broken.
std::optional<std::vector<std::string>> ExecArguments(std::string_view exec);

// The fall-back command for an address: the Exec line's arguments, an argument that is exactly
// %u, %U, %f or %F replaced by the address (appended as the last argument when there is none),
// arguments that are exactly another field code dropped, %% made %. nullopt when a field code
// sits inside a longer argument: the address would become part of a text the program parses.
std::optional<std::vector<std::string>> FallbackCommand(std::string_view exec,
                                                        const std::string& address);

// The Exec value of a desktop entry's [Desktop Entry] group, read from its file text.
std::optional<std::string> DesktopEntryExec(std::string_view fileText);

// The desktop file of a desktop id in the XDG data folders ($XDG_DATA_HOME, $XDG_DATA_DIRS);
// "vendor-app.desktop" may also live as vendor/app.desktop. An id holding "..", "/" or
// beginning with "." is refused.
std::optional<std::string> FindDesktopFile(const std::string& desktopId);

// Opens a web or mail address (or a document) with the desktop's program for it: xdg-open,
// and when that fails, the program the desktop registers for text/html with the address as its
// last argument. Nothing waits: `done` gets the result code as above from the event loop when
// it is known (on total failure xdg-open's code), unless `context` is gone by then. A name that
// begins with "-" is passed as "./-..." so that no program takes it for an option.
void OpenLinkAsync(const std::string& address, QObject* context, std::function<void(int)> done);
// The same, waited for (events are handled meanwhile).
int OpenLink(const std::string& address);

// The message for a result code (without the "Unable to open hyperlink:" prefix).
std::string LinkErrorText(int code);

// Shows "Unable to open hyperlink:\n\n" + the code's text with the exclamation icon.
void ReportLinkError(core::Prompter& prompter, int code);

} // namespace ui
