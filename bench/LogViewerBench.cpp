// Times the split-log viewer on a long log: reading the file into the list and showing it, and
// one sort on a header click. Usage: log-viewer-bench [LINES] [RUNS]  (defaults 100000 and 5)
#include "storage/SplitLog.h"
#include "ui/dialogs/LogViewerDialog.h"
#include "ui/dialogs/LogViewerModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// Says what a box would have said; the bench expects none.
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

// Lines as a long working life writes them: many sources, many parts each, times that grow.
void WriteLog(const std::string& path, int lines) {
    std::mt19937 random(7);
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < lines; ++i) {
        const int source = i / 40;
        char time[32];
        std::snprintf(time, sizeof time, "2026-%.2d-%.2d %.2d:%.2d:%.2d", 1 + (i / 200000) % 12,
                      1 + (i / 8000) % 28, (i / 600) % 24, (i / 10) % 60, i % 60);
        const std::string output = "/home/user/out/report" + std::to_string(source) + "_page" +
                                   std::to_string(i % 40 + 1) + ".pdf";
        out << storage::LogLine(time, static_cast<long long>(random() % 5000000), output, time,
                                time, "/home/user/in/report" + std::to_string(source) + ".pdf");
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const auto dir = std::filesystem::temp_directory_path() / "quillsever-log-bench";
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "split.log").string();
    WriteLog(log, lines);

    std::vector<double> open, sortSize, sortPath;
    for (int run = 0; run < runs; ++run) {
        CPrintingPrompter prompter;
        QElapsedTimer timer;
        timer.start();
        ui::CLogViewerDialog dialog(log, prompter);
        dialog.show();
        QApplication::processEvents();
        open.push_back(timer.nsecsElapsed() / 1e6);
        if (dialog.Model().rowCount() != lines) {
            std::fprintf(stderr, "read %d rows, wanted %d\n", dialog.Model().rowCount(), lines);
            return 1;
        }
        timer.restart();
        dialog.Model().SortByColumn(1);
        dialog.View().viewport()->repaint();
        sortSize.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        dialog.Model().SortByColumn(2);
        dialog.View().viewport()->repaint();
        sortPath.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::filesystem::remove_all(dir);
    std::printf("log lines: %d, median of %d runs\n", lines, runs);
    std::printf("| step | ms |\n|---|---|\n");
    std::printf("| open the viewer (read, fill, first paint) | %.0f |\n", Median(open));
    std::printf("| sort on File Size | %.0f |\n", Median(sortSize));
    std::printf("| then sort on Append File | %.0f |\n", Median(sortPath));
    return 0;
}
