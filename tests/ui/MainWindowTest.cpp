// The main window offscreen: its texts, menus and keys, the table over the job list, the
// layout on resize, start-up when split.log cannot be opened, the run in the window, Close.

#include "ui/window/MainWindow.h"

#include "core/AddFile.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/ScriptedAutomation.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowTestSupport.h"
#include "ui/desktop/QtPrompter.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/dialogs/LogViewerDialog.h"
#include "ui/window/JobTableModel.h"

#include <QAction>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointF>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <sstream>

using testing_support::CRecordingPrompter;
using testing_support::CScriptedAutomation;
using testing_support::CScriptedParameterDialog;
using testing_support::CTempDir;

namespace {

using Names = std::vector<std::string>;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A window in a scratch folder with recorded boxes, a scripted dialog and a recorded exit.
struct Fixture {
    CTempDir dir{true};
    CRecordingPrompter prompter;
    CScriptedParameterDialog* dialog = nullptr;
    std::vector<int> exits;
    std::unique_ptr<ui::CMainWindow> window;

    explicit Fixture(std::function<void(ui::MainWindowSetup&)> tweak = {}) {
        ui::MainWindowSetup setup;
        setup.prompter = &prompter;
        setup.makeDialog = [this](ui::CMainWindow&) {
            auto scripted = std::make_unique<CScriptedParameterDialog>();
            dialog = scripted.get();
            return scripted;
        };
        setup.exitProcess = [this](int status) { exits.push_back(status); };
        setup.startWatchdog = false;
        setup.allowSplash = false;
        if (tweak)
            tweak(setup);
        window = std::make_unique<ui::CMainWindow>(std::move(setup));
    }

    // A job whose parameters are given, so no dialog opens.
    void AddJob(const std::string& path, const std::string& parameters = "1", int32_t pages = 3) {
        core::NewJob job;
        job.fileName = path;
        job.pageCount = pages;
        job.splitParameters = parameters;
        job.splitTo = dir.File("out");
        core::AddFile(window->List(), window->AddFileHooks(), job);
    }
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> texts;
        for (int i = 0; i < window->List().Count(); ++i)
            texts.push_back(window->List().Text(i, column));
        return texts;
    }
    std::vector<int> SelectedViewRows() const {
        std::vector<int> rows;
        for (int i = 0; i < window->List().Count(); ++i)
            if (window->Table()->selectionModel()->isRowSelected(i, {}))
                rows.push_back(i);
        return rows;
    }
};

// Entries of a menu as their texts, "-" for a separator.
QStringList Entries(QMenu* menu) {
    QStringList out;
    for (QAction* action : menu->actions())
        out << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return out;
}

// An automation that notes, at each creation, whether the connection notice is up and how
// far the status cell's bar has come.
class CWatchingAutomation final : public engine::Automation {
  public:
    CWatchingAutomation(engine::Automation& inner, ui::CMainWindow*& window)
        : m_inner(inner), m_window(window) {}
    std::shared_ptr<engine::AutomationObject> CreateObject(const std::string& progId,
                                                           std::string& failureText) override {
        const bool noticeUp =
            m_window->Notice().Window() && m_window->Notice().Window()->isVisible();
        noticeAt.push_back(progId + (noticeUp ? " notice" : ""));
        if (noticeUp) {
            QDialog* notice = m_window->Notice().Window();
            noticeTitle = notice->windowTitle();
            for (QLabel* label : notice->findChildren<QLabel*>())
                noticeTexts << label->text();
        }
        const QVariant progress =
            m_window->Model()->index(0, core::kColStatus).data(ui::CJobTableModel::ProgressRole);
        if (progress.isValid())
            progressAt.push_back(progress.toPointF());
        return m_inner.CreateObject(progId, failureText);
    }
    std::vector<std::string> noticeAt;
    QString noticeTitle;
    QStringList noticeTexts;
    std::vector<QPointF> progressAt;

  private:
    engine::Automation& m_inner;
    ui::CMainWindow*& m_window;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void controlTexts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("split") << "ctl1002"
                               << "Split em'";
        QTest::newRow("close") << "ctl1001"
                               << "&Close";
        QTest::newRow("count label") << "ctl1025"
                                     << "Total Items:";
        QTest::newRow("link") << "ctl1022"
                              << "Quillsever home page";
    }
    void controlTexts() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        Fixture f;
        QWidget* widget = f.window->findChild<QWidget*>(name);
        QVERIFY(widget);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            QCOMPARE(button->text(), text);
        else
            QCOMPARE(qobject_cast<QLabel*>(widget)->text(), text);
        QVERIFY(!widget->accessibleName().isEmpty());
    }

    void windowTextsAndState() {
        Fixture f;
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Quillsever v1.16"));
        QVERIFY(f.window->SplitButton()->isDefault());
        QVERIFY(f.window->ItemCountBox()->isReadOnly());
        QCOMPARE(f.window->ItemCountBox()->text(), QStringLiteral("0"));
        QStringList hints;
        for (QLabel* label : f.window->findChildren<QLabel*>())
            hints << label->text();
        QVERIFY(hints.contains(QStringLiteral("Drag & Drop file(s) into list below")));
        QVERIFY(hints.contains(QStringLiteral("Right click item to update")));
        QVERIFY(f.window->Action(32802)->isChecked());
        f.window->SetCaption(QStringLiteral("Quillsever  [/b/jobs.spl]"));
        QCOMPARE(f.window->windowTitle(), QStringLiteral("Quillsever  [/b/jobs.spl]"));
        // Every control a screen reader can reach has a name.
        for (QWidget* widget : f.window->findChildren<QWidget*>())
            if (widget->objectName().startsWith(QStringLiteral("ctl")))
                QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
    }

    void tableColumns() {
        Fixture f;
        QTableView* table = f.window->Table();
        QHeaderView* header = table->horizontalHeader();
        QCOMPARE(f.window->Model()->columnCount(), 14);
        const QStringList headers{"Selected",
                                  "Filename",
                                  "Split Parameters",
                                  "Pages",
                                  "Status",
                                  "Move To Directory After Split",
                                  "Split to Directory",
                                  "Increment Name",
                                  "Use Pages Name",
                                  "Keep Bookmarks",
                                  "File List",
                                  "Increment Start",
                                  "Skip Pages",
                                  "Offset Page Filenames"};
        const QList<int> widths{60, 276, 120, 70, 70, 200, 200, 0, 0, 0, 0, 100, 100, 150};
        for (int c = 0; c < 14; ++c) {
            QCOMPARE(f.window->Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                     headers[c]);
            QCOMPARE(header->sectionSize(c), widths[c]);
            // Collapsed, not hidden: the user can drag it open.
            QVERIFY(!header->isSectionHidden(c));
        }
        QVERIFY(table->showGrid());
        QVERIFY(header->sectionsMovable());
        QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(table->selectionMode(), QAbstractItemView::ExtendedSelection);
    }

    void menus_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QList<int>>("ids");
        QTest::newRow("file") << "&File" << QStringList{"Load Batch File",
                                                        "Append Batch File",
                                                        "-",
                                                        "Save Batch File",
                                                        "SaveAs Batch File",
                                                        "-",
                                                        "&Exit"}
                              << QList<int>{32775, 32776, 32777, 32778, 32779};
        QTest::newRow("options") << "&Options"
                                 << QStringList{"&Setup",
                                                "Always show parameters box for each file"}
                                 << QList<int>{32798, 32802};
        QTest::newRow("actions") << "&Actions" << QStringList{"&Update Selection",
                                                              "&Delete Current Selection\tDELETE",
                                                              "-",
                                                              "&Clear ALL",
                                                              "-",
                                                              "Move Up\ta",
                                                              "Move Down\tz"}
                                 << QList<int>{32803, 32785, 32786, 32787, 32788};
        QTest::newRow("sort") << "&Sort" << QStringList{"&Sort on filename"} << QList<int>{32789};
        QTest::newRow("window") << "Window" << QStringList{"&Refresh Page Counts", "Refresh ALL"}
                                << QList<int>{32790, 32791};
        QTest::newRow("log") << "&Log"
                             << QStringList{"&View Log", "&Clear Log", "-", "&Export Log to CSV"}
                             << QList<int>{32792, 32793, 32805};
        QTest::newRow("help")
            << "&Help"
            << QStringList{"Go to Website Homepage",        "&HTML Help", "-",
                           "Email Bug/Suggestion/Comments", "-",          "&About Quillsever..."}
            << QList<int>{32795, 32796, 32797};
    }
    void menus() {
        QFETCH(QString, title);
        QFETCH(QStringList, entries);
        QFETCH(QList<int>, ids);
        Fixture f;
        QMenu* found = nullptr;
        for (QAction* action : f.window->findChild<QMenuBar*>()->actions())
            if (action->text() == title)
                found = action->menu();
        QVERIFY(found);
        QCOMPARE(Entries(found), entries);
        for (int id : ids) {
            QAction* action = f.window->Action(id);
            QVERIFY(action);
            QCOMPARE(action->objectName(), QStringLiteral("cmd%1").arg(id));
            QVERIFY(found->actions().contains(action));
        }
    }

    void menuBarOrder() {
        Fixture f;
        QStringList titles;
        for (QAction* action : f.window->findChild<QMenuBar*>()->actions())
            titles << action->text();
        QCOMPARE(titles, (QStringList{"&File", "&Options", "&Actions", "&Sort", "Window", "&Log",
                                      "&Help"}));
        QCOMPARE(f.window->Action(16)->objectName(), QStringLiteral("cmdAbout"));
        for (int id : {32799, 32800, 32801, 32806})
            QCOMPARE(f.window->Action(id)->objectName(), QStringLiteral("cmd%1").arg(id));
    }

    // The keys act on the list even with the table focused, whose keyboard search would
    // otherwise take letters.
    void accelerators_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QList<int>>("highlighted");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("A moves up")
            << int(Qt::Key_A) << 0 << QList<int>{2} << QStringList{"a", "c", "b", "d"};
        QTest::newRow("Z moves down")
            << int(Qt::Key_Z) << 0 << QList<int>{0} << QStringList{"b", "a", "c", "d"};
        QTest::newRow("Delete removes all highlighted")
            << int(Qt::Key_Delete) << 0 << QList<int>{0, 3} << QStringList{"b", "c"};
        QTest::newRow("shift A is no accelerator")
            << int(Qt::Key_A) << int(Qt::ShiftModifier) << QList<int>{2}
            << QStringList{"a", "b", "c", "d"};
    }
    void accelerators() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QList<int>, highlighted);
        QFETCH(QStringList, order);
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        for (const char* name : {"a", "b", "c", "d"})
            f.AddJob(std::string("/in/") + name + ".pdf");
        for (int row : highlighted)
            f.window->List().SetHighlight(row, true);
        f.window->Table()->setFocus();
        QTest::keyClick(f.window->Table(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QStringList names;
        for (const std::string& name : f.Column(core::kColFilename))
            names << QString::fromStdString(name.substr(4, 1));
        QCOMPARE(names, order);
        QCOMPARE(f.window->ItemCountBox()->text(),
                 key == Qt::Key_Delete ? QStringLiteral("2") : QStringLiteral("0"));
    }

    void ctrlDSwitchesTheTraceOn() {
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        QTest::keyClick(f.window->Table(), Qt::Key_D, Qt::ControlModifier);
        QVERIFY(f.window->Trace().IsOn());
        QCOMPARE(f.prompter.boxes.size(), size_t{1});
        f.window->CloseWindow();
        QCOMPARE(ReadFile(f.dir.File("debug.txt")),
                 std::string("Started Application version: 1.16\r\nClose\r\n"));
    }

    void viewSelectionIsTheListHighlight() {
        Fixture f;
        for (const char* name : {"c", "a", "b"})
            f.AddJob(std::string("/in/") + name + ".pdf");
        f.window->Table()->selectRow(2);
        QCOMPARE(f.window->List().FirstHighlighted(), 2);
        f.window->List().SetHighlight(0, true);
        QCOMPARE(f.SelectedViewRows(), (std::vector<int>{0, 2}));
        // A sort moves the highlight with its job.
        f.window->Action(32789)->trigger();
        QCOMPARE(f.Column(core::kColFilename), (Names{"/in/a.pdf", "/in/b.pdf", "/in/c.pdf"}));
        QCOMPARE(f.SelectedViewRows(), (std::vector<int>{1, 2}));
        // A header click sorts on that column.
        f.window->List().SetText(0, core::kColPages, "9");
        f.window->List().SetText(1, core::kColPages, "10");
        f.window->List().SetText(2, core::kColPages, "8");
        emit f.window->Table()->horizontalHeader()->sectionClicked(core::kColPages);
        QCOMPARE(f.Column(core::kColPages), (Names{"10", "8", "9"}));
    }

    void doubleClickTogglesTheFirstHighlightedRow() {
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        f.AddJob("/in/a.pdf");
        f.AddJob("/in/b.pdf");
        QTableView* table = f.window->Table();
        const QPoint second = table->visualRect(f.window->Model()->index(1, 1)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(f.Column(core::kColSelected), (Names{"Yes", "No"}));
        QCOMPARE(f.window->List().Text(1, core::kColStatus), std::string(""));
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(f.window->List().Text(1, core::kColSelected), std::string("Yes"));
        QCOMPARE(f.window->List().Text(1, core::kColStatus), std::string("Ready."));
        // Space does the same; with no row highlighted it highlights the current one first.
        QTest::keyClick(table, Qt::Key_Space);
        QCOMPARE(f.Column(core::kColSelected), (Names{"Yes", "No"}));
        table->clearSelection();
        QTest::keyClick(table, Qt::Key_Space);
        QCOMPARE(f.SelectedViewRows(), (std::vector<int>{1}));
        QApplication::setActiveWindow(f.window.get()); // and Tab leaves the list
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("ctl1022"));
    }

    void useSameParametersRemovesTheCheckMark() {
        Fixture f;
        f.dialog->replies = {{1, [](auto& d) { d.useSame = true; }}};
        f.AddJob("/in/a.pdf", "");
        QVERIFY(!f.window->Action(32802)->isChecked());
        QVERIFY(!f.window->Operations().AlwaysShow());
        f.window->Action(32802)->trigger();
        QVERIFY(f.window->Action(32802)->isChecked());
        QVERIFY(f.window->Operations().AlwaysShow());
    }

    void theDialogsHelpButtonCallsTheGivenService() {
        int helpOpened = 0;
        Fixture f([&](ui::MainWindowSetup& s) {
            s.makeDialog = {};
            s.openHelp = [&] { ++helpOpened; };
        });
        f.AddJob("/in/a.pdf");
        f.window->List().SetHighlight(0, true);
        QString topic;
        testing_support::CModalDriver driver([&](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("dlg129"))
                return false;
            topic = f.window->HelpTopic();
            modal->findChild<QPushButton*>(QStringLiteral("ctl1023"))->click();
            modal->findChild<QPushButton*>(QStringLiteral("ctl1003"))->click();
            return true;
        });
        f.window->Action(32803)->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QCOMPARE(helpOpened, 1);
        QCOMPARE(topic, QStringLiteral("split-parameters"));
    }

    void resize_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("smallest") << QSize(1, 1);
        QTest::newRow("first size") << QSize(0, 0);
        QTest::newRow("wide") << QSize(1000, 420);
        QTest::newRow("tall") << QSize(640, 700);
    }
    void resize() {
        QFETCH(QSize, size);
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        if (!size.isEmpty())
            f.window->resize(size);
        const QSize wanted = size.expandedTo(f.window->minimumSize());
        QTRY_VERIFY(size.isEmpty() || f.window->size() == wanted);
        // The frame the figures count from is the client area's, whatever frame is drawn.
        const int w = f.window->NominalFrameSize().width();
        const int h = f.window->NominalFrameSize().height();
        QCOMPARE(f.window->Table()->geometry(), QRect(0, 15, w - 7, h - 130));
        QCOMPARE(f.window->SplitButton()->geometry(), QRect(w / 2 - 80, h - 93, 160, 25));
        QCOMPARE(f.window->findChild<QWidget*>("ctl1001")->geometry(),
                 QRect(w - 80, h - 93, 70, 25));
        const QRect link = f.window->findChild<QWidget*>("ctl1022")->geometry();
        QCOMPARE(link.topLeft(), QPoint(7, h - 62));
        QVERIFY(link.width() >= 170);
        // Every control whole inside the window, none over another; the label keeps its margin.
        const QRect label = f.window->findChild<QWidget*>("ctl1025")->geometry();
        QCOMPARE(label.topLeft(), QPoint(10, h - 93));
        QVERIFY(f.window->ItemCountBox()->x() > label.x() + label.width() - 1);
        QVERIFY(f.window->ItemCountBox()->geometry().right() < f.window->SplitButton()->x());
        const QWidget* client = f.window->Table()->parentWidget();
        for (QWidget* control :
             client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(client->rect().contains(control->geometry()),
                     qPrintable(control->objectName()));
        QTableView* table = f.window->Table(); // a few rows in view, even at the smallest
        QVERIFY(table->viewport()->height() >= 3 * table->verticalHeader()->defaultSectionSize());
    }

    void maximisedWindowIsLaidOutToo() {
        Fixture f;
        f.window->showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QTRY_VERIFY(f.window->isMaximized());
        const int w = f.window->NominalFrameSize().width();
        const int h = f.window->NominalFrameSize().height();
        QTRY_COMPARE(f.window->Table()->geometry(), QRect(0, 15, w - 7, h - 130));
        QCOMPARE(f.window->SplitButton()->geometry(), QRect(w / 2 - 80, h - 93, 160, 25));
    }

    void dialogUnits() {
        QFont font = QApplication::font();
        font.setPointSize(10);
        const QSize base = ui::DialogBaseUnits(font);
        QVERIFY(base.width() > 0 && base.height() > 0);
        QCOMPARE(ui::DialogUnitsToPixels(font, QRect(4, 8, 400, 80)),
                 QRect(base.width(), base.height(), 100 * base.width(), 10 * base.height()));
        // Rounded to the nearest pixel, halves away from zero.
        QCOMPARE(ui::DialogUnitsToPixels(font, QRect(0, 0, 2, 4)).size(),
                 QSize((2 * base.width() + 2) / 4, (4 * base.height() + 4) / 8));
        Fixture f;
        const QSize client =
            ui::DialogUnitsToPixels(f.window->font(), QRect(0, 0, 396, 209)).size();
        QCOMPARE(f.window->width(), client.width());
    }

    // A large font on a small screen: the window and the log viewer open no larger than the
    // screen, title bar and borders counted.
    void aLargeFontStillFitsTheScreen() {
        const QFont before = QApplication::font();
        QApplication::setFont(QFont(before.family(), qRound(before.pointSizeF() * 1.3)));
        Fixture f;
        ui::CLogViewerDialog log(f.dir.File("split.log"), f.prompter);
        QApplication::setFont(before);
        const QSize room = f.window->screen()->availableGeometry().size() -
                           QSize(8, 2 * f.window->fontMetrics().height() + 8);
        QCOMPARE(room.expandedTo(f.window->size()).expandedTo(log.size()), room);
    }

    void withoutSplitLogTheWindowStaysUsable() {
        testing_support::CTempDir outside;
        Fixture f([&](ui::MainWindowSetup& s) {
            s.logPath = outside.File("no-such-folder/split.log");
            s.makeDialog = {};
        });
        QCOMPARE(f.prompter.Lines(), (Names{"Log File Error: Can't open split.log"}));
        QVERIFY(!f.window->Initialised());
        QVERIFY(!f.window->Operations().AlwaysShow());
        QVERIFY(!f.window->Action(32802)->isChecked());
        // Runs still write their parts; the log records nothing.
        const std::string source = f.dir.File("in.pdf");
        testing_support::WritePdf(source, {.pages = 2});
        f.AddJob(source, "1,2", 2);
        f.window->SplitButton()->click();
        QCOMPARE(f.prompter.Lines().back(), std::string("Quillsever: Done."));
        QVERIFY(std::filesystem::exists(f.dir.File("out/in_page0001.pdf")));
        QVERIFY(std::filesystem::exists(f.dir.File("out/in_page0002.pdf")));
        QVERIFY(!std::filesystem::exists(outside.File("no-such-folder")));
        f.window->List().SetHighlight(0, true);
        testing_support::CModalDriver cancel([](QWidget* modal) {
            if (modal->objectName() != QStringLiteral("dlg129"))
                return false;
            modal->findChild<QPushButton*>(QStringLiteral("ctl1003"))->click();
            return true;
        });
        f.window->Action(32803)->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QCOMPARE(cancel.handled, 1);
        f.window->Action(32790)->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QCOMPARE(f.window->List().Text(0, core::kColPages), std::string("2"));
    }

    void enterRunsTheJobsAndTheNoticeShowsOnlyWhileConnecting() {
        ui::CMainWindow* window = nullptr;
        CScriptedAutomation scripted;
        CWatchingAutomation watching(scripted, window);
        Fixture f([&](ui::MainWindowSetup& s) { s.automation = &watching; });
        window = f.window.get();
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        const std::string source = f.dir.File("a.pdf");
        testing_support::WritePdf(source, {.pages = 10});
        f.AddJob(source, "1,2,3", 10);
        f.window->Table()->setFocus();
        QTest::keyClick(f.window->Table(), Qt::Key_Return);
        QCOMPARE(f.prompter.Lines(), (Names{"Quillsever: Done."}));
        QCOMPARE(f.window->List().Text(0, core::kColStatus), std::string("Done"));
        QCOMPARE(watching.noticeAt.front(), std::string("AcroExch.App notice"));
        for (size_t i = 1; i < watching.noticeAt.size(); ++i)
            QVERIFY(watching.noticeAt[i].find("notice") == std::string::npos);
        QCOMPARE(watching.noticeTitle, QStringLiteral("Acrobat Connection"));
        QVERIFY(watching.noticeTexts.contains(QStringLiteral("Connecting to Adobe Acrobat")));
        QVERIFY(watching.noticeTexts.contains(QStringLiteral(
            "If this takes a while please check acrobat isn't waiting for a user prompt.")));
        QVERIFY(!f.window->Notice().Window());
        // The status bar counted the parts as they were written, and is gone with "Done".
        QCOMPARE(watching.progressAt, (std::vector<QPointF>{{1, 3}, {2, 3}, {3, 3}}));
        QVERIFY(!f.window->Model()
                     ->index(0, core::kColStatus)
                     .data(ui::CJobTableModel::ProgressRole)
                     .isValid());
        QCOMPARE(f.window->SplitButton()->text(), QStringLiteral("Split em'"));
    }

    void secondPressStops() {
        CScriptedAutomation scripted;
        Fixture f([&](ui::MainWindowSetup& s) { s.automation = &scripted; });
        f.AddJob("/in/a.pdf", "1,2,3", 10);
        QStringList labels;
        scripted.Before(
            "AVDoc.Open",
            [&] {
                labels << f.window->SplitButton()->text();
                f.window->SplitButton()->click();
            },
            1);
        f.window->SplitButton()->click();
        QCOMPARE(labels, QStringList{"Stop"});
        QCOMPARE(f.window->List().Text(0, core::kColStatus), std::string("Stopped"));
        QCOMPARE(f.window->SplitButton()->text(), QStringLiteral("Split em'"));
    }

    void editsDuringARunFollowTheJob() {
        CScriptedAutomation scripted;
        Fixture f([&](ui::MainWindowSetup& s) { s.automation = &scripted; });
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        f.AddJob("/in/a.pdf", "1");
        f.AddJob("/in/b.pdf", "1,2,3", 10);
        QVariant progressAfterDelete;
        // While b is being split (its second range), the user deletes a, above it.
        scripted.Before(
            "AVDoc.Open",
            [&] {
                f.window->Table()->selectRow(0);
                f.window->Table()->setFocus();
                QTest::keyClick(f.window->Table(), Qt::Key_Delete);
                progressAfterDelete = f.window->Model()
                                          ->index(0, core::kColStatus)
                                          .data(ui::CJobTableModel::ProgressRole);
            },
            3);
        f.window->SplitButton()->click();
        QCOMPARE(f.Column(core::kColFilename), (Names{"/in/b.pdf"}));
        QCOMPARE(f.Column(core::kColStatus), (Names{"Done"}));
        // The bar went with its job to the job's new row.
        QCOMPARE(progressAfterDelete.toPointF(), QPointF(1, 3));
        QCOMPARE(f.window->ItemCountBox()->text(), QStringLiteral("1"));
    }

    void closeWhileProcessingEndsWithStatusOne() {
        CScriptedAutomation scripted;
        Fixture f([&](ui::MainWindowSetup& s) { s.automation = &scripted; });
        f.AddJob("/in/a.pdf", "1,2,3", 10);
        f.window->show();
        scripted.Before(
            "AVDoc.Open", [&] { f.window->close(); }, 2);
        f.window->SplitButton()->click();
        QCOMPARE(f.exits, (std::vector<int>{1}));
        QVERIFY(!f.window->isVisible());
        QCOMPARE(f.window->result(), 1);
    }

    void closeWhenIdleEndsNormally() {
        Fixture f;
        f.AddJob("/in/a.pdf");
        f.window->List().SetText(0, core::kColStatus, "Done");
        f.window->show();
        f.window->Action(32779)->trigger();
        QVERIFY(f.exits.empty());
        QVERIFY(!f.window->isVisible());
        QCOMPARE(f.window->result(), 1);
    }

    void escapeWithNothingToLoseTakesTheCloseSteps() {
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        QTest::keyClick(f.window->Table(), Qt::Key_D, Qt::ControlModifier);
        QTest::keyClick(f.window->Table(), Qt::Key_Escape);
        QVERIFY(!f.window->isVisible());
        QCOMPARE(f.window->result(), 1);
        QCOMPARE(ReadFile(f.dir.File("debug.txt")),
                 std::string("Started Application version: 1.16\r\nClose\r\n"));
    }

    void startsWithTheFocusOnSplit() {
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.window->SplitButton()));
        QCOMPARE(f.window->HelpTopic(), QStringLiteral("main-window"));
    }

    void rightClickHighlightsTheRowThenOffersTheMenu() {
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        for (const char* name : {"a", "b", "c"})
            f.AddJob(std::string("/in/") + name + ".pdf");
        f.window->List().SetHighlight(0, true);
        QStringList offered;
        QPoint menuAt;
        QTimer chooser;
        chooser.setInterval(0);
        connect(&chooser, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            offered = Entries(menu);
            menuAt = menu->pos();
            QAction* moveUp = menu->findChild<QAction*>(QStringLiteral("cmd32772"));
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(moveUp).center());
        });
        chooser.start();
        QTableView* table = f.window->Table();
        const QPoint third = table->visualRect(f.window->Model()->index(2, 1)).center();
        QTest::mouseClick(table->viewport(), Qt::RightButton, {}, third);
        emit table->customContextMenuRequested(third);
        QCOMPARE(offered,
                 (QStringList{"Update Item", "-", "Move UP", "Move Down", "-", "Delete Item"}));
        QCOMPARE(menuAt, table->viewport()->mapToGlobal(third));
        QCOMPARE(f.Column(core::kColFilename), (Names{"/in/a.pdf", "/in/c.pdf", "/in/b.pdf"}));
        QCOMPARE(f.SelectedViewRows(), (std::vector<int>{1}));
    }

    void theProcessedRowIsScrolledIntoView() {
        CScriptedAutomation scripted;
        Fixture f([&](ui::MainWindowSetup& s) { s.automation = &scripted; });
        f.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        for (int i = 0; i < 60; ++i)
            f.AddJob("/in/f" + std::to_string(i) + ".pdf", i == 55 ? "1" : "");
        for (int i = 0; i < 60; ++i)
            if (i != 55)
                f.window->List().SetText(i, core::kColSelected, "No");
        bool visible = false;
        scripted.Before("AVDoc.Open", [&] {
            QTableView* table = f.window->Table();
            const QRect row = table->visualRect(f.window->Model()->index(55, 1));
            visible = table->viewport()->rect().contains(row.center());
        });
        f.window->SplitButton()->click();
        QVERIFY(visible);
    }

    void messageBoxes_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << int(core::Buttons::Ok) << int(QMessageBox::Ok)
                            << int(core::Answer::Ok);
        QTest::newRow("yes") << int(core::Buttons::YesNo) << int(QMessageBox::Yes)
                             << int(core::Answer::Yes);
        QTest::newRow("no") << int(core::Buttons::YesNo) << int(QMessageBox::No)
                            << int(core::Answer::No);
    }
    void messageBoxes() {
        QFETCH(int, buttons);
        QFETCH(int, press);
        QFETCH(int, answer);
        Fixture f;
        f.window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        QString caption, text;
        bool captionFits = false; // beside the title bar's icon and buttons
        QWidget* parent = nullptr;
        testing_support::CModalDriver driver([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box)
                return false;
            caption = box->windowTitle();
            text = box->text();
            const QFontMetrics title(box->font());
            captionFits = box->width() >= title.horizontalAdvance(caption) + 5 * title.height();
            parent = box->parentWidget();
            QAbstractButton* button = box->button(QMessageBox::StandardButton(press));
            (button ? button : box->buttons().first())->click();
            return true;
        });
        ui::CQtPrompter prompter;
        const core::Answer got =
            prompter.Show("Please select item first", {}, core::Buttons(buttons));
        QCOMPARE(int(got), answer);
        QCOMPARE(text, QStringLiteral("Please select item first"));
        // No caption of its own: the program's file name.
        QCOMPARE(caption, QStringLiteral("ui_MainWindowTest"));
        QCOMPARE(parent, static_cast<QWidget*>(f.window.get()));
        prompter.Show("x", "Log File Error");
        QCOMPARE(caption, QStringLiteral("Log File Error"));
        QVERIFY(captionFits);
    }

    void aHundredPdfsShareOneIcon() {
        Fixture f;
        for (int i = 0; i < 100; ++i)
            f.AddJob("/nowhere/file" + std::to_string(i) + ".pdf");
        QCOMPARE(f.window->Icons().Count(), 1);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(f.window->List().Row(i).icon, 0);
        QVERIFY(!f.window->Model()->index(99, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(f.window->ItemCountBox()->text(), QStringLiteral("0")); // AddFile alone does not
        f.window->ShowItemCount();
        QCOMPARE(f.window->ItemCountBox()->text(), QStringLiteral("100"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
