#include "core/SetupOptions.h"

#include "core/AtomicFile.h"
#include "core/Files.h"
#include "core/Text.h"

#include <fcntl.h>
#include <string_view>

namespace core {

namespace {

constexpr size_t kLineLimit = 254;

void ApplyLine(SetupOptions& options, std::string_view line) {
    std::string_view key, value;
    bool haveValue = false;
    int piece = 0;
    ForEachToken(line, ";\n", [&](std::string_view token) {
        if (piece == 0)
            key = token;
        else if (piece == 1) {
            value = token;
            haveValue = true;
        }
        ++piece;
    });
    if (key.empty())
        return;
    // A carriage return at the end of a value would be written just before the line feed, where
    // it reads back as part of the line end: the value would change between a save and the next
    // start. Such a return (a hand edit, or a line cut into pieces) is never part of a value.
    while (!value.empty() && value.back() == '\r')
        value.remove_suffix(1);
    if (key == "PREFIXSTR")
        options.prefix = value;
    else if (key == "ENDSTR")
        options.endText = value;
    else if (key == "PAGERANGETEXT")
        options.singlePageText = value;
    else if (key == "PAGERANGESTEXT")
        options.rangeText = value;
    else if (key == "DELIMITER")
        options.delimiter = value;
    else if (key == "MASK") {
        // A width line without a width says nothing; keep what we have.
        if (haveValue)
            options.counterWidth = LeadingInt(value);
    } else if (key == "DONTUSEORIGINALFILENAME")
        options.useSourceName = false;
    else if (key == "NOSPLASH")
        options.noSplash = true;
    else if (key == "DEFAULTSPLIT")
        options.defaultSplitToSource = true;
}

} // namespace

void LoadSetupOptions(SetupOptions& options, const std::string& path) {
    // The working folder may have come from someone else: a setup.ini that is a link, a FIFO
    // or another user's file counts as missing.
    const int fd = OpenOwnFd(path, O_RDONLY);
    if (fd < 0)
        return;
    options.useSourceName = true;
    // Read as it comes, piece by piece: a file of gigabytes (a disk image saved under this
    // name) once had to fit in memory whole.
    std::string line;
    // Over-long lines come in pieces, each a line of its own. A piece is taken only once a
    // byte follows it, so the CR of a line end is never part of one.
    const auto takePieces = [&](bool lineEnded) {
        size_t at = 0;
        for (; line.size() - at > kLineLimit; at += kLineLimit)
            ApplyLine(options, std::string_view(line).substr(at, kLineLimit));
        line.erase(0, at);
        if (!lineEnded)
            return;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            ApplyLine(options, line);
        line.clear();
    };
    ReadInBlocks(fd, [&](std::string_view chunk) {
        while (!chunk.empty()) {
            const size_t lf = chunk.find('\n');
            line.append(chunk.substr(0, lf));
            takePieces(lf != std::string_view::npos);
            chunk.remove_prefix(lf == std::string_view::npos ? chunk.size() : lf + 1);
        }
    });
    takePieces(true);
}

std::string SetupOptionsText(const SetupOptions& o) {
    std::string out;
    auto valueLine = [&](const char* key, const std::string& value) {
        out += key;
        out += ';';
        out += value;
        out += '\n';
    };
    valueLine("PREFIXSTR", o.prefix);
    valueLine("ENDSTR", o.endText);
    valueLine("PAGERANGETEXT", o.singlePageText);
    valueLine("PAGERANGESTEXT", o.rangeText);
    valueLine("MASK", IntText(o.counterWidth));
    valueLine("DELIMITER", o.delimiter);
    if (o.noSplash)
        out += "NOSPLASH\n";
    if (o.defaultSplitToSource)
        out += "DEFAULTSPLIT\n";
    if (!o.useSourceName)
        out += "DONTUSEORIGINALFILENAME\n";
    return out;
}

bool SaveSetupOptions(const SetupOptions& options, Prompter& prompter, const std::string& path) {
    if (CAtomicFile::WriteAll(path, SetupOptionsText(options), CAtomicFile::Kind::Own))
        return true;
    prompter.Show("can't save to setup.ini");
    return false;
}

} // namespace core
