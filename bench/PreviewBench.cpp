// Times the Split Parameters dialog's preview: from opening the dialog on a large PDF to its
// first page pictures, a scroll to the middle of the file, and the plan of "1s" over 19,998
// pages. Usage: preview-bench BIG.pdf PAGES [RUNS]
//        preview-bench --show SOURCE.pdf PAGES PARAMS SECONDS  (holds the dialog open, to look
//        at it or take a picture of the screen)
#include "ui/preview/PlanPreview.h"
#include "ui/dialogs/SplitParametersDialog.h"
#include "ui/preview/ThumbnailRenderer.h"
#include "ui/preview/ThumbnailStrip.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace {

class CSilentPrompter final : public core::Prompter {
  public:
    core::Answer Show(const std::string&, const std::string&, core::Buttons, core::Icon) override {
        return core::Answer::Ok;
    }
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the event loop until `done` holds; false when it does not within a minute.
template <typename Done> bool Until(Done done) {
    QElapsedTimer limit;
    limit.start();
    while (!done()) {
        if (limit.elapsed() > 60000)
            return false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Pages whose pictures the strip now shows, as seen from its viewport.
bool VisiblePagesPainted(ui::CThumbnailStrip& strip) {
    const int first = strip.indexAt(QPoint(1, 40)).row();
    int last = strip.indexAt(QPoint(strip.viewport()->width() - 2, 40)).row();
    if (first < 0)
        return false;
    if (last < 0)
        last = strip.PageCount() - 1;
    for (int page = first; page <= last; ++page)
        if (!strip.Renderer().Cached(page))
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 6 && std::string(argv[1]) == "--show") {
        CSilentPrompter prompter;
        core::SetupOptions options;
        ui::CSplitParametersDialog dialog(prompter, {});
        dialog.SetPlanContext(&options);
        ui::SplitParametersFields& f = dialog.Fields();
        f.fileName = argv[2];
        f.pages = std::atoi(argv[3]);
        f.splitParameters = argv[4];
        f.splitTo = "/home/user/parts";
        f.fileList = "";
        QTimer::singleShot(std::atoi(argv[5]) * 1000, &dialog, &QDialog::reject);
        dialog.Open(true);
        return 0;
    }
    if (argc < 3) {
        std::cerr << "usage: preview-bench BIG.pdf PAGES [RUNS]\n";
        return 2;
    }
    const std::string source = argv[1];
    const int pages = std::atoi(argv[2]);
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    CSilentPrompter prompter;
    core::SetupOptions options;

    std::vector<double> firstPicture, allVisible, scrolled;
    for (int run = 0; run < runs; ++run) {
        ui::CSplitParametersDialog dialog(prompter, {});
        dialog.SetPlanContext(&options);
        ui::SplitParametersFields& f = dialog.Fields();
        f.fileName = source;
        f.pages = pages;
        f.splitParameters = "1-10,5s";
        f.splitTo = "/out";
        ui::CThumbnailStrip& strip = *dialog.Preview()->Strip();
        bool painted = false;
        QObject::connect(&strip, &ui::CThumbnailStrip::pagePainted, [&] { painted = true; });
        QElapsedTimer clock;
        bool ok = false;
        // Measured inside the dialog's own modal loop, as a user meets it.
        QTimer::singleShot(0, [&] {
            ok = Until([&] { return painted; });
            firstPicture.push_back(double(clock.nsecsElapsed()) / 1e6);
            ok = ok && Until([&] { return VisiblePagesPainted(strip); });
            allVisible.push_back(double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
            strip.horizontalScrollBar()->setValue(strip.horizontalScrollBar()->maximum() / 2);
            ok = ok && Until([&] { return VisiblePagesPainted(strip); });
            scrolled.push_back(double(clock.nsecsElapsed()) / 1e6);
            dialog.reject();
        });
        clock.start();
        dialog.Open(true);
        if (!ok) {
            std::cerr << "the pictures did not come\n";
            return 1;
        }
    }

    // The plan of the longest string a job can have: one output per page of 19,998.
    std::vector<double> plan, planAndPaint;
    {
        ui::CSplitParametersDialog dialog(prompter, {});
        dialog.SetPlanContext(&options);
        ui::SplitParametersFields& f = dialog.Fields();
        f.fileName = "/in/big.pdf";
        f.pages = 19998;
        f.splitParameters = "1";
        f.splitTo = "/out";
        QLineEdit* edit = dialog.findChild<QLineEdit*>(QStringLiteral("ctl1004"));
        QTimer::singleShot(0, [&] {
            for (int run = 0; run < runs * 2; ++run) {
                edit->setText(run % 2 ? QStringLiteral("1") : QStringLiteral("1s"));
                QElapsedTimer clock;
                clock.start();
                dialog.Preview()->UpdateNow();
                const double planned = double(clock.nsecsElapsed()) / 1e6;
                dialog.Preview()->List()->viewport()->repaint();
                if (run % 2 == 0) {
                    plan.push_back(planned);
                    planAndPaint.push_back(double(clock.nsecsElapsed()) / 1e6);
                }
            }
            dialog.reject();
        });
        dialog.Open(true);
        if (dialog.Preview()->Plan()->Outputs().size() != 1) {
            std::cerr << "unexpected plan\n";
            return 1;
        }
    }

    std::printf("open to first page picture (%d pages): median %.0f ms\n", pages,
                Median(firstPicture));
    std::printf("open to every visible picture: median %.0f ms\n", Median(allVisible));
    std::printf("scroll to the middle to every visible picture: median %.0f ms\n",
                Median(scrolled));
    std::printf("plan of \"1s\" over 19,998 pages: median %.1f ms (with list repaint %.1f ms)\n",
                Median(plan), Median(planAndPaint));
    return 0;
}
