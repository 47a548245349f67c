// `cmake --install` into a scratch prefix and the .deb that cpack makes: every file where a
// desktop and a shell look for it, and a package whose dependencies Debian can meet.
#include "tests/support/PdfBuilder.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
namespace {

// The PDF builder has a RunProgram of its own that gives only the status.
testing_support::ProcessResult RunProgram(const std::vector<std::string>& argv) {
    return testing_support::RunProgram(argv, {});
}

const int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Width and height from a PNG's header; {0, 0} when it is not a PNG.
std::pair<int, int> PngSize(const fs::path& path) {
    const std::string bytes = Read(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](size_t at) {
        int value = 0;
        for (size_t i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    return {be32(16), be32(20)};
}

// The files an installation under `root` (a prefix, or /usr inside an unpacked package) holds.
std::vector<std::string> ExpectedFiles() {
    std::vector<std::string> files{"bin/quillsever-cli",
                                   "lib/quillsever/quillsever-poppler.so",
                                   "share/man/man1/quillsever-cli.1",
                                   "share/man/man1/quillsever.1",
                                   "share/applications/quillsever.desktop",
                                   "share/bash-completion/completions/quillsever-cli"};
    if (QS_HAS_WINDOW) {
        files.push_back("bin/quillsever");
        files.push_back("share/bash-completion/completions/quillsever");
    }
    if (QS_HAS_HELP)
        files.push_back("share/quillsever/help/index.html");
    if (QS_HAS_ICON) {
        files.push_back("share/icons/hicolor/scalable/apps/quillsever.svg");
        for (int size : kIconSizes)
            files.push_back("share/icons/hicolor/" + std::to_string(size) + "x" +
                            std::to_string(size) + "/apps/quillsever.png");
    }
    return files;
}

void ExpectInstalled(const fs::path& root) {
    for (const std::string& file : ExpectedFiles())
        EXPECT_TRUE(fs::is_regular_file(root / file)) << file;
    if (QS_HAS_ICON)
        for (int size : kIconSizes) {
            const fs::path png = root / ("share/icons/hicolor/" + std::to_string(size) + "x" +
                                         std::to_string(size) + "/apps/quillsever.png");
            EXPECT_EQ(PngSize(png), std::make_pair(size, size)) << png;
        }
}

} // namespace

TEST(PackagingTest, InstallPutsEveryFileWhereTheDesktopLooks) {
    testing_support::CTempDir prefix;
    const auto install =
        RunProgram({"cmake", "--install", QS_BINARY_DIR, "--prefix", prefix.Path()});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    const fs::path root = prefix.Path();
    ExpectInstalled(root);

    const auto validate =
        RunProgram({"desktop-file-validate", (root / "share/applications/quillsever.desktop")});
    EXPECT_EQ(validate.status, 0) << validate.out << validate.err;
    EXPECT_EQ(validate.out + validate.err, "") << "not even a hint";
    const std::string entry = Read(root / "share/applications/quillsever.desktop");
    for (const char* line : {"\nExec=quillsever %F\n", "\nMimeType=application/pdf;\n",
                             "\nIcon=quillsever\n", "\nType=Application\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;

    const auto version = RunProgram({(root / "bin/quillsever-cli").string(), "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillsever-cli " QS_VERSION "\n");

    // Reading pages loads the module from the installation; without it, a clear failure.
    const std::string pdf = (root / "in.pdf").string();
    testing_support::WritePdf(
        pdf, {.pages = 2, .contents = {{1, "BT /F1 18 Tf 72 700 Td (INVOICE 7) Tj ET"}}});
    const std::vector<std::string> ranges{(root / "bin/quillsever-cli").string(), "ranges", pdf,
                                          "--text", "INVOICE \\d"};
    const auto text = RunProgram(ranges);
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "1,2\n\nINVOICE 7\n");
    fs::remove(root / "lib/quillsever/quillsever-poppler.so");
    const auto missing = RunProgram(ranges);
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("quillsever-poppler.so, which is missing"), std::string::npos)
        << missing.err;
}

TEST(PackagingTest, DebianPackageHoldsEveryFileAndItsDependenciesResolve) {
    testing_support::CTempDir work;
    const auto pack = RunProgram(
        {"cpack", "-G", "DEB", "--config", QS_BINARY_DIR "/CPackConfig.cmake", "-B", work.Path()});
    ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
    fs::path deb;
    for (const auto& entry : fs::directory_iterator(work.Path()))
        if (entry.path().extension() == ".deb")
            deb = entry.path();
    ASSERT_FALSE(deb.empty()) << pack.out;
    EXPECT_EQ(deb.filename().string().rfind("quillsever_" QS_VERSION "_", 0), 0u) << deb;

    const auto depends = RunProgram({"dpkg-deb", "--field", deb.string(), "Depends"});
    ASSERT_EQ(depends.status, 0) << depends.err;
    EXPECT_NE(depends.out.find("libqpdf"), std::string::npos) << depends.out;
    EXPECT_NE(depends.out.find("libpoppler-cpp"), std::string::npos) << depends.out;
    if (QS_HAS_WINDOW) {
        EXPECT_NE(depends.out.find("libqt6widgets6"), std::string::npos) << depends.out;
        EXPECT_NE(depends.out.find("qt6-qpa-plugins"), std::string::npos) << depends.out;
    }

    const fs::path root = fs::path(work.Path()) / "root";
    const auto unpack = RunProgram({"dpkg", "-x", deb.string(), root.string()});
    ASSERT_EQ(unpack.status, 0) << unpack.err;
    ExpectInstalled(root / "usr");

    // Nothing is installed: dpkg only says whether it could be, dependencies included. dpkg
    // asks for root even for that (CI runs as root).
    if (::geteuid() != 0)
        GTEST_SKIP() << "dpkg --dry-run -i needs root; the rest has passed";
    const auto dryRun = RunProgram({"dpkg", "--dry-run", "-i", deb.string()});
    EXPECT_EQ(dryRun.status, 0) << dryRun.out << dryRun.err;
}
