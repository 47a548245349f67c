#include "core/AtomicFile.h"

#include "core/Files.h"
#include "core/SetupOptions.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace core;
using namespace testing_support;

namespace {
const std::string kBig(64 * 1024, 'x'); // far beyond the limit the failing cases set
constexpr size_t kLimit = 1000;
} // namespace

TEST(AtomicFileTest, WholeFileTakesTheNameAndNothingIsLeftBeside) {
    CTempDir dir;
    dir.Write("t.txt", "old");
    ASSERT_TRUE(CAtomicFile::WriteAll(dir.File("t.txt"), "new bytes"));
    EXPECT_EQ(dir.Read("t.txt"), "new bytes");
    EXPECT_EQ(DirectoryListing(dir.Path()), "t.txt");

    // Small pieces gathered into blocks, and pieces bigger than a block, in their order.
    const std::string big(200 * 1000, 'b');
    CAtomicFile pieces(dir.File("s.txt"));
    ASSERT_TRUE(pieces.Open());
    std::string expected;
    for (const std::string& piece :
         {std::string("small "), big, std::string(70000, 'm'), std::string("tail"), big}) {
        ASSERT_TRUE(pieces.Write(piece));
        expected += piece;
    }
    ASSERT_TRUE(pieces.Commit());
    EXPECT_EQ(dir.Read("s.txt"), expected);
    EXPECT_EQ(DirectoryListing(dir.Path()), "s.txt t.txt");

    // Parts synced later, with their job: a new name, and one that replaces a 0600 file.
    ASSERT_EQ(::chmod(dir.File("t.txt").c_str(), 0600), 0);
    for (const char* name : {"u.txt", "t.txt"}) {
        CAtomicFile part(dir.File(name));
        part.DeferSync();
        ASSERT_TRUE(part.Open() && part.Write("part") && part.Commit()) << name;
        EXPECT_EQ(dir.Read(name), "part");
    }
    EXPECT_EQ(CAtomicFile::SyncDeferred(), "");
    EXPECT_EQ(DirectoryListing(dir.Path()), "s.txt t.txt u.txt");
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("t.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A writer that wrote straight into the target would leave it cut short or empty here.
TEST(AtomicFileTest, FailedWriteKeepsTheOldFileAndLeavesNothing) {
    struct Case {
        const char* name;
        const char* old; // nullptr: no file before
        std::function<bool(const std::string&)> write;
    };
    const std::vector<Case> cases{
        {"whole file, old file", "old", [](auto& t) { return CAtomicFile::WriteAll(t, kBig); }},
        {"whole file, no file", nullptr, [](auto& t) { return CAtomicFile::WriteAll(t, kBig); }},
        {"small pieces, old file", "old",
         [](auto& t) {
             CAtomicFile file(t);
             if (!file.Open())
                 return true;
             for (size_t i = 0; i < kBig.size(); i += 100)
                 file.Write(std::string_view(kBig).substr(i, 100)); // unchecked, as qpdf's are
             return file.Commit();
         }},
        {"setup.ini", "PREFIXSTR;_kept\n",
         [](auto& t) {
             SetupOptions options;
             options.prefix = kBig;
             CRecordingPrompter prompter;
             return SaveSetupOptions(options, prompter, t) ||
                    prompter.Lines() != std::vector<std::string>{": can't save to setup.ini"};
         }},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        const std::string target = dir.File("target");
        if (c.old)
            dir.Write("target", c.old);
        EXPECT_EQ(
            InChildWithFileSizeLimit(kLimit, [&] { return c.write(target) ? "ok" : "failed"; }),
            "failed")
            << c.name;
        if (c.old) {
            EXPECT_EQ(dir.Read("target"), c.old) << c.name;
            EXPECT_EQ(DirectoryListing(dir.Path()), "target") << c.name;
        } else {
            EXPECT_EQ(DirectoryListing(dir.Path()), "") << c.name;
        }
    }
}

TEST(AtomicFileTest, DroppedOrRefusedFilesLeaveTheTargetAlone) {
    CTempDir dir;
    dir.Write("t.txt", "old");
    {
        CAtomicFile dropped(dir.File("t.txt"));
        ASSERT_TRUE(dropped.Open());
        ASSERT_TRUE(dropped.Write("never committed"));
    }
    EXPECT_EQ(dir.Read("t.txt"), "old");
    EXPECT_EQ(DirectoryListing(dir.Path()), "t.txt");

    CAtomicFile noReplace(dir.File("t.txt"));
    ASSERT_TRUE(noReplace.Open());
    ASSERT_TRUE(noReplace.Write("new"));
    EXPECT_FALSE(noReplace.Commit(CAtomicFile::Replace::No));
    EXPECT_EQ(dir.Read("t.txt"), "old");
    EXPECT_EQ(DirectoryListing(dir.Path()), "t.txt");

    EXPECT_FALSE(CAtomicFile::WriteAll(dir.File("no-such-folder/t.txt"), "x"));
}

TEST(AtomicFileTest, NewFileGetsThePermissionsTheUmaskAllows) {
    CTempDir dir;
    const std::string target = dir.File("t.txt");
    // The umask is the child's own; the test process keeps its own.
    const std::string mode = InChildWithFileSizeLimit(1 << 20, [&] {
        ::umask(027);
        struct stat st {};
        if (!CAtomicFile::WriteAll(target, "x") || ::stat(target.c_str(), &st) != 0)
            return std::string("failed");
        return std::to_string(st.st_mode & 0777);
    });
    EXPECT_EQ(mode, std::to_string(0640));
}

// A FIFO would block the open or the read for ever, a device would never end.
TEST(FilesTest, OnlyRegularFilesAreRead) {
    CTempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.File("zero"));
    std::filesystem::create_directory(dir.File("folder"));
    dir.Write("plain", "bytes");
    for (const char* name : {"fifo", "zero", "folder", "missing"}) {
        EXPECT_FALSE(ReadWholeFile(dir.File(name))) << name;
        EXPECT_EQ(OpenRegularFile(dir.File(name)), nullptr) << name;
    }
    EXPECT_EQ(ReadWholeFile(dir.File("plain")), "bytes");

    SetupOptions options;
    LoadSetupOptions(options, dir.File("fifo"));
    EXPECT_EQ(options, SetupOptions{}) << "a FIFO as setup.ini is a missing one";
}

// A rewrite keeps a private file private; a link at the name is replaced, followed or refused
// as the name's chooser decides, and the file it leads to changes only when followed.
TEST(AtomicFileTest, RewritesKeepTheModeAndTreatLinksByKind) {
    const struct {
        CAtomicFile::Kind kind;
        bool ok;
        const char* victim; // what the link's target holds afterwards
        bool stillLink;
    } cases[] = {
        {CAtomicFile::Kind::Replace, true, "old", false},
        {CAtomicFile::Kind::FollowLink, true, "new", true},
        {CAtomicFile::Kind::Own, false, "old", true},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        dir.Write("victim", "old");
        ASSERT_EQ(::chmod(dir.File("victim").c_str(), 0600), 0);
        std::filesystem::create_symlink("victim", dir.File("link"));
        EXPECT_EQ(CAtomicFile::WriteAll(dir.File("link"), "new", c.kind), c.ok);
        EXPECT_EQ(dir.Read("victim"), c.victim);
        EXPECT_EQ(std::filesystem::is_symlink(dir.File("link")), c.stillLink);
        struct stat st {};
        ASSERT_EQ(::stat(dir.File("victim").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    CTempDir dir;
    dir.Write("setup.ini", "MASK;4\n");
    ASSERT_EQ(::chmod(dir.File("setup.ini").c_str(), 0600), 0);
    CRecordingPrompter prompter;
    ASSERT_TRUE(SaveSetupOptions(SetupOptions{}, prompter, dir.File("setup.ini")));
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("setup.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a 0600 setup.ini is not widened";
}

// A run killed in the middle of a write leaves its temporary file; the next writer into that
// folder removes it, but never one a live writer holds or one younger than itself.
TEST(AtomicFileTest, StaleTemporariesOfKilledRunsAreRemoved) {
    CTempDir dir;
    const std::string stale = dir.Write(".quillsever-Stale00001", "x");
    const std::string held = dir.Write(".quillsever-Held000001", "x");
    const std::string other = dir.Write(".quillsever-notours", "x"); // not the pattern
    const struct timespec old[2] = {{1, 0}, {1, 0}};
    for (const std::string& path : {stale, held, other})
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    const std::string fresh = dir.Write(".quillsever-Fresh00001", "x");
    const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    // The lock is another open file's, as a writer in another process would hold it.
    ASSERT_TRUE(CAtomicFile::WriteAll(dir.File("t.txt"), "x"));
    ::close(holder);
    EXPECT_EQ(DirectoryListing(dir.Path()),
              ".quillsever-Fresh00001 .quillsever-Held000001 .quillsever-notours t.txt");
}
