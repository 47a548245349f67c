// Times reading a long batch file into the main window's job list, as "Load Batch File" does,
// with the window shown. Usage: batch-load-bench [JOBS] [RUNS]  (defaults 100000 and 3)
#include "ui/window/MainWindow.h"
#include "ui/window/WindowCommands.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class CPrintingPrompter final : public core::Prompter {
  public:
    core::Answer Show(const std::string& text, const std::string& caption, core::Buttons,
                      core::Icon) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return core::Answer::No;
    }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int jobs = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const auto dir = std::filesystem::temp_directory_path() / "quillsever-batch-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    const std::string batch = (dir / "jobs.spl").string();
    {
        // Page counts are given, so no file is opened: what is timed is the list itself.
        std::ofstream out(batch, std::ios::binary);
        for (int i = 0; i < jobs; ++i)
            out << "/home/user/in/report" << i << ".pdf; 1s; 12; Ready.; ; /home/user/out; N; N; "
                << "Y; ; 0; 0; 0\r\r\n";
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        CPrintingPrompter prompter;
        ui::MainWindowSetup setup;
        setup.prompter = &prompter;
        setup.startWatchdog = false;
        setup.allowSplash = false;
        ui::CMainWindow window(std::move(setup));
        ui::CWindowCommands commands(window);
        window.show();
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        commands.Batch().ReadBatchFile(batch);
        QApplication::processEvents();
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (window.List().Count() != jobs) {
            std::fprintf(stderr, "read %d jobs, wanted %d\n", window.List().Count(), jobs);
            return 1;
        }
    }
    std::filesystem::current_path(dir.parent_path());
    std::filesystem::remove_all(dir);
    std::printf("batch of %d jobs, median of %d runs: %.0f ms\n", jobs, runs, Median(times));
    return 0;
}
