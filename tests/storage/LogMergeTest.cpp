#include "storage/LogMerge.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sstream>

using storage::MergeLogs;
using testing_support::CTempDir;

namespace {

std::string Line(const std::string& time, const std::string& path) {
    return time + "   \t100     \t" + path + "\tc\tm\t/s.pdf\r\n";
}

struct MergeResult {
    bool ok;
    std::string out;
    std::string failed;
};

MergeResult Merge(const std::vector<std::string>& paths) {
    std::ostringstream out;
    std::string failed;
    const bool ok = MergeLogs(paths, out, failed);
    return {ok, out.str(), failed};
}

} // namespace

TEST(LogMergeTest, OrdersByTimeAndKeepsEveryByte) {
    CTempDir dir(true);
    const std::string a1 = Line("2026-12-07 10:00:01", "/o/a1.pdf");
    const std::string a2 = Line("2026-12-07 10:00:05", "/o/a2 with \xc3\xa9 and\ttab.pdf");
    const std::string b1 = Line("2026-12-07 10:00:02", "/o/b1.pdf");
    const std::string b2 = Line("2026-12-07 10:00:05", "/o/b2.pdf"); // same second as a2
    const std::string c1 = Line("2026-12-07 09:59:59", "/o/c1.pdf");
    // A line of a megabyte with a NUL in it is copied through whole.
    const std::string b3 = Line("2026-12-07 10:00:06", std::string(1 << 20, 'x') + '\0' + "y");
    // A line feed in a file's name ends no line; a line ended by LF alone (a hand edit) is one.
    const std::string a3 = Line("2026-12-07 10:00:07", "/o/line\nfeed.pdf");
    const std::string a4 = Line("2026-12-07 10:00:10", "/o/a4.pdf");
    std::string b4 = Line("2026-12-07 10:00:09", "/o/b4.pdf");
    b4.erase(b4.size() - 2, 1);
    const std::string b5 = Line("2026-12-07 10:00:11", "/o/b5.pdf");
    dir.Write("a.log", a1 + a2 + a3 + a4);
    dir.Write("b.log", b1 + b2 + b3 + b4 + b5);
    dir.Write("c.log", c1);
    dir.Write("empty.log", "");
    MergeResult r = Merge({"a.log", "empty.log", "b.log", "c.log"});
    EXPECT_TRUE(r.ok);
    // Within one second the file named first goes first.
    EXPECT_TRUE(r.out == c1 + a1 + b1 + a2 + b2 + b3 + a3 + b4 + a4 + b5);
}

TEST(LogMergeTest, KeepsEachFilesOwnOrderAndEndsACutLine) {
    CTempDir dir(true);
    // The clock went back inside one log: its lines still come in the order they were written.
    const std::string late = Line("2026-12-07 10:00:09", "/o/late.pdf");
    const std::string early = Line("2026-12-07 10:00:01", "/o/early.pdf");
    dir.Write("a.log", late + early);
    const std::string cut = Line("2026-12-07 10:00:03", "/o/cut.pdf");
    dir.Write("b.log", cut.substr(0, cut.size() - 2)); // killed before its line end
    MergeResult r = Merge({"a.log", "b.log"});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, cut + late + early) << "the cut line gets its end and swallows nothing";
}

TEST(LogMergeTest, AMissingOrSpecialFileIsNamed) {
    CTempDir dir(true);
    dir.Write("a.log", Line("2026-12-07 10:00:01", "/o/a.pdf"));
    MergeResult missing = Merge({"a.log", "absent.log"});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.failed, "absent.log");
    EXPECT_EQ(missing.out, "") << "nothing half merged";
    MergeResult folder = Merge({dir.Path()});
    EXPECT_FALSE(folder.ok);
    EXPECT_EQ(folder.failed, dir.Path());
}
