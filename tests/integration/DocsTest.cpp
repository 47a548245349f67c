// The man pages and the bash completion against the program's own usage text: a command or an
// option added to the program but not to its documentation fails here.
#include "cli/Cli.h"

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using testing_support::RunProgram;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string UsageText() {
    std::ostringstream out, err;
    cli::Run({"quillsever-cli", "--help"}, out, err);
    return out.str();
}

// The options of each command, from the usage text: a command's block starts at a line indented
// by two spaces and runs to the next such line.
std::map<std::string, std::set<std::string>> OptionsByCommand() {
    std::map<std::string, std::set<std::string>> options;
    std::istringstream usage(UsageText());
    std::string line, command;
    bool inCommands = false;
    const std::regex option("--[a-z][a-z-]*");
    while (std::getline(usage, line)) {
        if (line == "Commands:") {
            inCommands = true;
            continue;
        }
        if (!inCommands)
            continue;
        if (line.empty())
            break;
        if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ') {
            command = line.substr(2, line.find(' ', 2) - 2);
            options[command];
        }
        for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it)
            options[command].insert(it->str());
    }
    return options;
}

bool MentionsOption(const std::string& text, const std::string& option) {
    return std::regex_search(text, std::regex("(^|[^a-z-])" + option + "([^a-z-]|$)"));
}

std::vector<std::string> CompletionsOf(const std::string& script, const std::string& command,
                                       std::vector<std::string> words,
                                       const std::string& cwd = {}) {
    words.insert(words.begin(), {"bash", QS_SOURCE_DIR "/tests/integration/Complete.bash",
                                 QS_SOURCE_DIR "/packaging/" + script, command});
    const auto r = RunProgram(words, cwd);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> Completions(std::vector<std::string> words) {
    return CompletionsOf("quillsever-cli.bash", "quillsever-cli", std::move(words));
}

} // namespace

TEST(DocsTest, UsageTextListsEveryCommand) {
    const auto options = OptionsByCommand();
    for (const std::string& command : cli::CommandNames())
        EXPECT_TRUE(options.count(command)) << command;
    EXPECT_TRUE(options.at("run").count("--shard"));
}

TEST(DocsTest, ManPagesBuildCleanAndMentionEveryCommandAndOption) {
    const std::string cliPage = QS_MAN_DIR "/quillsever-cli.1";
    const std::string windowPage = QS_MAN_DIR "/quillsever.1";
    for (const std::string& page : {cliPage, windowPage}) {
        // groff complains on standard error about anything it cannot set.
        const auto r = RunProgram({"groff", "-man", "-Tutf8", "-ww", "-z", page});
        EXPECT_EQ(r.status, 0) << page;
        EXPECT_EQ(r.err, "") << page;
    }
    const std::string text = Read(cliPage);
    ASSERT_NE(text.find(".TH \"quillsever-cli\" \"1\""), std::string::npos);
    for (const std::string& command : cli::CommandNames())
        EXPECT_TRUE(text.find("\\fB" + command + "\\fR") != std::string::npos ||
                    text.find("\\fB" + command + " ") != std::string::npos)
            << command;
    for (const auto& [command, options] : OptionsByCommand())
        for (const std::string& option : options)
            EXPECT_TRUE(MentionsOption(text, option)) << command << " " << option;

    const std::string window = Read(windowPage);
    EXPECT_NE(window.find(".TH \"quillsever\" \"1\""), std::string::npos);
    EXPECT_TRUE(MentionsOption(window, "--version"));
}

TEST(DocsTest, CompletionOffersEveryCommandAndItsOptions) {
    const auto first = Completions({""});
    for (const std::string& command : cli::CommandNames())
        EXPECT_NE(std::find(first.begin(), first.end(), command), first.end()) << command;
    EXPECT_NE(std::find(first.begin(), first.end(), "--version"), first.end());

    for (const auto& [command, options] : OptionsByCommand()) {
        if (command == "help" || command.rfind("--", 0) == 0)
            continue;
        const auto offered = Completions({command, "--"});
        for (const std::string& option : options)
            EXPECT_NE(std::find(offered.begin(), offered.end(), option), offered.end())
                << command << " " << option;
    }
    EXPECT_EQ(Completions({"run", "--sh"}), std::vector<std::string>{"--shard"});
}

TEST(DocsTest, WindowCompletionOffersPdfFilesAndFolders) {
    testing_support::CTempDir dir;
    dir.Write("a.pdf", "");
    dir.Write("B.PDF", "");
    dir.Write("notes.txt", "");
    dir.Write("sub/x.pdf", "");
    EXPECT_EQ(CompletionsOf("quillsever.bash", "quillsever", {""}, dir.Path()),
              (std::vector<std::string>{"B.PDF", "a.pdf", "sub"}));
    EXPECT_EQ(CompletionsOf("quillsever.bash", "quillsever", {"--v"}, dir.Path()),
              std::vector<std::string>{"--version"});
}
