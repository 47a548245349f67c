#include "storage/CsvExport.h"

#include "core/AtomicFile.h"

#include <sys/stat.h>

namespace storage {

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string CsvLine(const LogRow& row) {
    std::string out;
    for (size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            out += ',';
        out += CsvField(row[i]);
    }
    out += "\r\n";
    return out;
}

bool WriteLogCsv(const std::string& logPath, const std::string& target, core::Prompter& prompter) {
    // The export would take the log's place: every line it records would be gone, with only
    // the table made of them left.
    struct stat log {
    }, chosen{};
    if (::stat(logPath.c_str(), &log) == 0 && ::stat(target.c_str(), &chosen) == 0 &&
        log.st_dev == chosen.st_dev && log.st_ino == chosen.st_ino) {
        prompter.Show(target, "Log Write File Error");
        return false;
    }
    // Written as the log is read: a log of years of runs (gigabytes) had to fit in memory
    // twice over, as rows and as their table.
    core::CAtomicFile csv(target);
    bool written = csv.Open() &&
                   csv.Write("Time,Bytes,Append File,Created Time,Modified Time,Source File\r\n");
    if (!ReadLog(logPath,
                 [&](const LogRow& row) { written = written && csv.Write(CsvLine(row)); })) {
        prompter.Show("Can't open split.log", "Log File Error");
        return false; // the temporary file goes with `csv`
    }
    if (!written || !csv.Commit()) {
        prompter.Show(target, "Log Write File Error");
        return false;
    }
    return true;
}

bool ExportLogToCsv(const std::string& logPath, core::FileDialogs& dialogs,
                    core::Prompter& prompter, core::Shell& shell) {
    auto target = dialogs.SaveFile("Export Log to CSV file",
                                   {{"*.csv", "*.csv"}, {"All Files *.*", "*.*"}}, "csv");
    if (!target || target->empty())
        return false;
    if (!WriteLogCsv(logPath, *target, prompter))
        return false;
    if (prompter.Show("Do you want to open file now in excel ?", "Open File", core::Buttons::YesNo,
                      core::Icon::Question) == core::Answer::Yes)
        shell.Open(*target);
    return true;
}

} // namespace storage
