#include "cli/Progress.h"
#include "cli/StreamPrompter.h"

#include <gtest/gtest.h>
#include <sstream>

using cli::CProgress;

TEST(ProgressTest, ElapsedTimeReadsAsMinutesThenHours) {
    const std::vector<std::pair<long, std::string>> cases{
        {0, "0:00"},       {59, "0:59"},        {61, "1:01"}, {3599, "59:59"},
        {3600, "1:00:00"}, {36125, "10:02:05"}, {-3, "0:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(cli::ElapsedText(seconds), text) << seconds;
}

TEST(ProgressTest, BarShowsPartsElapsedAndTheCurrentFile) {
    std::ostringstream err;
    double now = 100.0;
    CProgress p(err, CProgress::Mode::Bar, 4, [&] { return now; });
    p.JobStarted("/in/report.pdf");
    EXPECT_EQ(p.BarText(), "[........................] 0/4 parts  0:00  report.pdf");
    now = 165.5;
    p.OutputWritten(0, 1, 4, "out/report_page0001.pdf");
    EXPECT_EQ(p.BarText(), "[######..................] 1/4 parts  1:05  report.pdf");
    p.JobStarted("/in/" + std::string(60, 'n') + ".pdf");
    EXPECT_EQ(p.BarText().substr(p.BarText().size() - 42), "  ..." + std::string(33, 'n') + ".pdf")
        << "a long name keeps its end";
    for (int i = 0; i < 4; ++i)
        p.OutputWritten(1, i + 1, 4, "x");
    EXPECT_EQ(p.BarText().substr(0, 36), "[########################] 5/5 parts")
        << "more parts than planned never overfill the bar";
}

TEST(ProgressTest, BarIsRedrawnInPlaceAndGivesWayToMessages) {
    std::ostringstream err;
    double now = 0;
    CProgress p(err, CProgress::Mode::Bar, 2, [&] { return now; });
    p.Tick(); // nothing drawn before the first job
    EXPECT_EQ(err.str(), "");
    p.JobStarted("a.pdf");
    p.Tick(); // same second: no redraw
    const std::string first = "\r\x1b[K[........................] 0/2 parts  0:00  a.pdf";
    EXPECT_EQ(err.str(), first);
    now = 1;
    p.Tick();
    p.BeforeMessage();
    err << "Move Error: text\n";
    p.AfterMessage();
    p.Finish();
    EXPECT_EQ(err.str(), first + "\r\x1b[K[........................] 0/2 parts  0:01  a.pdf" +
                             "\r\x1b[K" + "Move Error: text\n" +
                             "\r\x1b[K[........................] 0/2 parts  0:01  a.pdf\n");
}

TEST(ProgressTest, LinesForFilesAndNothingWhenQuiet) {
    std::ostringstream lines, quiet;
    CProgress l(lines, CProgress::Mode::Lines, 2, [] { return 0.0; });
    CProgress q(quiet, CProgress::Mode::Quiet, 2, [] { return 0.0; });
    for (CProgress* p : {&l, &q}) {
        p->JobStarted("a.pdf");
        p->OutputWritten(2, 1, 2, "out/a_page0001.pdf");
        p->Tick();
        p->BeforeMessage();
        p->AfterMessage();
        p->Finish();
    }
    EXPECT_EQ(lines.str(), "job 3, range 1 of 2: out/a_page0001.pdf\n");
    EXPECT_EQ(quiet.str(), "");
}

TEST(ProgressTest, BarNeverWrapsANarrowTerminal) {
    std::ostringstream err;
    auto zero = [] { return 0.0; };
    const std::string file = "/in/r\xc3\xa9sum\xc3\xa9.pdf";
    CProgress whole(err, CProgress::Mode::Bar, 3, zero, 48);
    whole.JobStarted(file);
    EXPECT_EQ(whole.BarText(), "[........................] 0/3 parts  0:00  r\xc3\xa9");
    CProgress half(err, CProgress::Mode::Bar, 3, zero, 47);
    half.JobStarted(file);
    EXPECT_EQ(half.BarText(), "[........................] 0/3 parts  0:00  r")
        << "a character the width would cut in half is left out whole";
    CProgress wide(err, CProgress::Mode::Bar, 3, zero, 200);
    wide.JobStarted("/in/r.pdf");
    EXPECT_EQ(wide.BarText(), "[........................] 0/3 parts  0:00  r.pdf");
}

// A file may be named with escape sequences; a terminal would act on them.
TEST(ProgressTest, ATerminalIsShownNoControlCharacters) {
    const std::string name = "a\x1b]0;owned\x07\xc2\x9b"
                             "2J\x7f\t\xc3\xa9.pdf";
    const std::string shown = "a?]0;owned??2J?\t\xc3\xa9.pdf";
    std::ostringstream err, terminal, pipe;
    CProgress bar(err, CProgress::Mode::Bar, 1, [] { return 0.0; });
    bar.JobStarted(name);
    EXPECT_EQ(bar.BarText(), "[........................] 0/1 parts  0:00  " + shown);
    cli::CStreamPrompter toTerminal(terminal, "qs", true), toPipe(pipe, "qs");
    static_cast<core::Prompter&>(toTerminal).Show(name);
    static_cast<core::Prompter&>(toPipe).Show(name);
    EXPECT_EQ(terminal.str(), "qs: " + shown + "\n");
    EXPECT_EQ(pipe.str(), "qs: " + name + "\n") << "a file or pipe gets every byte";
}
