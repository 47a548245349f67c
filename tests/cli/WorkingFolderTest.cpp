// The files the program names itself lie in the working folder, which may have come from
// someone else (an archive, a shared folder). Whatever is planted under those names (a link to
// another file, a FIFO, a device, a stranger's file, a second name of another file) is refused
// with the file's own message: nothing is written through it and nothing blocks.
#include "tests/cli/CliRun.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace testing_support;

namespace {

enum class Plant { Link, HardLink, Fifo, Device, Stranger };

// Puts `kind` under `name` in the working folder; false when this user cannot make it (a
// device or a stranger's file needs root). The victim is the file a link leads to.
bool PlantAs(Plant kind, const char* name, const std::string& victim) {
    return kind == Plant::Link       ? ::symlink(victim.c_str(), name) == 0
           : kind == Plant::HardLink ? ::link(victim.c_str(), name) == 0
           : kind == Plant::Fifo     ? ::mkfifo(name, 0600) == 0
           : kind == Plant::Device
               ? ::mknod(name, S_IFCHR | 0600, ::makedev(1, 5)) == 0 // zero
               : ::rename(victim.c_str(), name) == 0 && ::chown(name, 65534, 65534) == 0;
}

} // namespace

TEST(WorkingFolderTest, PlantedNamesAreRefusedNeverFollowed) {
    const char* kVictim = "PREFIXSTR;_planted\n";
    const struct {
        const char* name;
        std::vector<std::string> words;
        const char* said; // nullptr: the file counts as missing, silently
    } commands[] = {
        {"split.log",
         {"split", "in.pdf", "1", "--to", "out"},
         "Log File Error: Can't open split.log"},
        {"split.log", {"log"}, "Log File Error: Can't open split.log"},
        {"split.log", {"log", "--csv", "log.csv"}, "Log File Error: Can't open split.log"},
        {"debug.txt", {"split", "in.pdf", "1", "--to", "out", "--trace"}, "Can't open debug.txt"},
        {"setup.ini", {"plan", "in.pdf", "1", "--to", "out", "--increment"}, nullptr},
    };
    for (Plant kind : {Plant::Link, Plant::HardLink, Plant::Fifo, Plant::Device, Plant::Stranger}) {
        for (const auto& c : commands) {
            CTempDir dir(true);
            WritePdf(dir.File("in.pdf"), {.pages = 2});
            const std::string victim = dir.Write("victim", kVictim);
            if (!PlantAs(kind, c.name, victim))
                continue;
            const std::string what = std::string(c.name) + " as kind " +
                                     std::to_string(static_cast<int>(kind)) + ", " + c.words[0];
            // In a child with an alarm: a command that blocks on a FIFO fails instead of hanging.
            const std::string seen = InChildWithFileSizeLimit(1 << 30, [&] {
                ::alarm(20);
                const CliResult r = RunCli(c.words);
                return std::to_string(r.status) + "\n" + r.err + r.out;
            });
            EXPECT_FALSE(seen.starts_with("<child died>")) << what;
            if (c.said) {
                EXPECT_NE(seen.find(c.said), std::string::npos) << what << ": " << seen;
            }
            EXPECT_EQ(seen.find("_planted"), std::string::npos) << what << ": " << seen;
            const std::string kept = kind == Plant::Stranger ? c.name : "victim";
            if (kind != Plant::Fifo && kind != Plant::Device) {
                EXPECT_EQ(dir.Read(kept), kVictim) << what;
            }
        }
    }
}
