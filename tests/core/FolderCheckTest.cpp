#include "core/FolderCheck.h"

#include "tests/support/RecordingPrompter.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace core;
using testing_support::CRecordingPrompter;
using testing_support::CTempDir;

namespace {

// Cases name paths relative to a scratch folder holding "sub/" and the file "file.txt";
// "@" stands for the scratch folder itself.
std::string Resolve(const CTempDir& dir, const std::string& pattern) {
    if (pattern.empty() || pattern[0] != '@')
        return pattern;
    return dir.Path() + pattern.substr(1);
}

void MakeScratch(const CTempDir& dir) {
    std::filesystem::create_directory(dir.File("sub"));
    dir.Write("file.txt", "x");
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

} // namespace

TEST(FolderCheckTest, Syntax) {
    CTempDir dir;
    MakeScratch(dir);
    const struct {
        const char* path;
        bool skipRootTest;
        int code;
    } cases[] = {
        {"", true, kFolderInvalid},
        {"", false, kFolderInvalid},
        {"folder", true, kFolderInvalid},
        {"./folder", true, kFolderInvalid},
        {"C:", true, kFolderInvalid},
        {"/", true, kFolderOk},
        {"/", false, kFolderOk},
        {"@/sub", false, kFolderOk},
        {"@/new", false, kFolderOk},
        {"@/new/", false, kFolderOk},
        {"@/missing/new", true, kFolderOk},
        {"@/missing/new", false, kFolderNotCreatable},
        {"@/file.txt/new", false, kFolderNotCreatable},
    };
    for (const auto& c : cases) {
        const std::string path = Resolve(dir, c.path);
        EXPECT_EQ(CheckFolderSyntax(path, c.skipRootTest), c.code)
            << c.path << " skip=" << c.skipRootTest;
    }
}

TEST(FolderCheckTest, CheckAsksCreatesAndReports) {
    const std::string invalid = "The folder:\n\n%s\n\nis invalid. Please reenter.";
    const std::string question =
        "The folder:\n\n%s\n\ndoes not exist. Do you want the folder to be created?";
    const std::string cannot = "The folder:\n\n%s\n\ncan not be created. Please double check.";
    const std::string longName(300, 'n');
    const struct {
        const char* name;
        std::string path;
        std::vector<Answer> answers;
        int code;
        std::vector<std::string> boxes; // formats, each with the path
        bool existsAfter;
    } cases[] = {
        {"existing folder", "@/sub", {}, kFolderOk, {}, true},
        {"relative", "folder", {}, kFolderInvalid, {invalid}, false},
        {"empty", "", {}, kFolderInvalid, {invalid}, false},
        {"a file, not a folder", "@/file.txt", {}, kFolderInvalid, {invalid}, true},
        {"missing, No", "@/new", {Answer::No}, kFolderDeclined, {question}, false},
        {"missing, Yes creates it", "@/new", {Answer::Yes}, kFolderOk, {question}, true},
        {"parent missing", "@/a/b", {Answer::Yes}, kFolderNotCreatable, {question, cannot}, false},
        {"mkdir fails",
         "@/" + longName,
         {Answer::Yes},
         kFolderNotCreatable,
         {question, cannot},
         false},
    };
    for (const auto& c : cases) {
        CTempDir dir;
        MakeScratch(dir);
        const std::string path = Resolve(dir, c.path);
        CRecordingPrompter prompter;
        prompter.answers.assign(c.answers.begin(), c.answers.end());
        EXPECT_EQ(CheckFolder(path, prompter), c.code) << c.name;
        ASSERT_EQ(prompter.boxes.size(), c.boxes.size()) << c.name;
        for (size_t i = 0; i < c.boxes.size(); ++i) {
            std::string expected = c.boxes[i];
            expected.replace(expected.find("%s"), 2, path);
            EXPECT_EQ(prompter.boxes[i].text, expected) << c.name;
            EXPECT_EQ(prompter.boxes[i].caption, "") << c.name;
            EXPECT_EQ(prompter.boxes[i].buttons,
                      c.boxes[i] == question ? Buttons::YesNo : Buttons::Ok)
                << c.name;
        }
        std::error_code ec;
        EXPECT_EQ(std::filesystem::exists(path, ec), c.existsAfter) << c.name;
        if (c.existsAfter && c.code == kFolderOk) {
            EXPECT_TRUE(IsFolder(path)) << c.name;
        }
    }
}
