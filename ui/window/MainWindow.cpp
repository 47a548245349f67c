#include "ui/window/MainWindow.h"

#include "core/Files.h"
#include "core/Text.h"
#include "engine/PageCounter.h"
#include "engine/QpdfAutomation.h"
#include "ui/desktop/Hyperlink.h"
#include "ui/desktop/HyperlinkAddresses.h"
#include "ui/desktop/QtPrompter.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/window/JobTableModel.h"
#include "ui/window/StatusDelegate.h"
#include "ui/window/WindowParts.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ui {

namespace {

// Command ids of the menu bar, the accelerators and the context menu.
enum Command : int {
    kUpdateItem = 32771,
    kMoveUpItem = 32772,
    kMoveDownItem = 32773,
    kDeleteItem = 32774,
    kLoadBatch = 32775,
    kAppendBatch = 32776,
    kSaveBatch = 32777,
    kSaveAsBatch = 32778,
    kExit = 32779,
    kDeleteSelection = 32785,
    kClearAll = 32786,
    kMoveUp = 32787,
    kMoveDown = 32788,
    kSortFilename = 32789,
    kRefreshPages = 32790,
    kRefreshAll = 32791,
    kViewLog = 32792,
    kClearLog = 32793,
    kHomepage = 32795,
    kHtmlHelp = 32796,
    kBugReport = 32797,
    kSetup = 32798,
    kAccelMoveUp = 32799,
    kAccelDelete = 32800,
    kAccelMoveDown = 32801,
    kAlwaysShow = 32802,
    kUpdateSelection = 32803,
    kExportLog = 32805,
    kTraceOn = 32806,
};

// Paths of one folder differ only at their end: cut in the middle, each row keeps its file name
// in view (the whole path is in the tooltip).
class CPathCells final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

void EndProcess(int status) {
    // Everything written so far reaches its file; parts themselves are written atomically.
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace

CMainWindow::CMainWindow(MainWindowSetup setup, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_setup(std::move(setup)),
      m_ownClock(m_setup.clock ? nullptr : std::make_unique<core::CSystemClock>()),
      m_log(m_setup.clock ? *m_setup.clock : *m_ownClock, m_setup.logPath), m_notice(this) {
    setObjectName(QStringLiteral("dlg102"));
    SetHelpTopic(*this, QStringLiteral("main-window"));
    // The layout's pixel figures were drawn for 96 dots per inch; a desktop set to more gets
    // them in proportion, so that its larger text still fits the buttons.
    m_scale = std::max(1.0, logicalDpiY() / 96.0);
    if (!m_setup.prompter)
        m_ownPrompter = std::make_unique<CQtPrompter>();
    m_prompter = m_setup.prompter ? m_setup.prompter : m_ownPrompter.get();
    if (!m_setup.automation)
        m_ownAutomation = std::make_unique<engine::CQpdfAutomation>(m_trace);
    m_automation = m_setup.automation ? m_setup.automation : m_ownAutomation.get();
    if (!m_setup.exitProcess)
        m_setup.exitProcess = EndProcess;

    m_dialog = m_setup.makeDialog ? m_setup.makeDialog(*this) : MakeParameterDialog(*this);

    auto counter = std::make_shared<engine::CPageCounter>(*m_automation, *m_prompter, m_pump,
                                                          m_notice, &m_list);
    CJobListOperations::Services services{m_list, *m_prompter, *m_dialog, m_options};
    services.countPages = [counter](const std::string& path, int row) {
        return counter->Count(path, row);
    };
    services.iconOf = [this](const std::string& path) { return m_icons.GetFileIconIndex(path); };
    services.showItemCount = [this] { ShowItemCount(); };
    services.showAlwaysShow = [this](bool on) {
        if (QAction* action = Action(kAlwaysShow))
            action->setChecked(on);
    };
    services.repaint = [this] { repaint(); };
    services.focusRow = [this](int row) {
        if (m_table && m_model) {
            m_table->selectionModel()->setCurrentIndex(m_model->index(row, 0),
                                                       QItemSelectionModel::NoUpdate);
            m_table->setFocus();
        }
    };
    m_ops = std::make_unique<CJobListOperations>(std::move(services));

    engine::SplitRunServices run{m_list, *m_automation, *m_prompter, m_pump,
                                 m_log,  m_trace,       m_options,   m_notice};
    run.setLabel = [this](const std::string& label) {
        m_split->setText(QString::fromStdString(label));
        m_split->setAccessibleName(m_split->text());
    };
    run.repaint = [this] { repaint(); };
    run.outputWritten = [this](int row, int range, int ranges, const std::string&) {
        m_model->SetProgress(row, range, ranges);
    };
    m_run = std::make_unique<engine::CSplitRun>(std::move(run));

    BuildControls();
    BuildMenus();
    SetSizes();
    Initialise();
    qApp->installEventFilter(this);
}

CMainWindow::~CMainWindow() {
    qApp->removeEventFilter(this);
    // The model listens to the list, which goes before the window's children do.
    m_table->setModel(nullptr);
    delete m_model;
    m_model = nullptr;
    if (m_watchdog)
        m_watchdog->Stop();
    m_notice.Hide();
}

QAction* CMainWindow::Action(int id) const {
    return m_actions.value(id, nullptr);
}

core::AddFileHooks CMainWindow::AddFileHooks() {
    return m_ops->Hooks();
}

void CMainWindow::SetCaption(const QString& caption) {
    setWindowTitle(caption);
    setAccessibleName(caption);
}

void CMainWindow::ShowItemCount() {
    m_count->setText(QString::number(m_list.Count()));
}

QString CMainWindow::HelpTopic() const {
    // F1 names what the user is looking at: a dialog of the window (or a box over one), or the
    // window itself.
    QWidget* modal = QApplication::activeModalWidget();
    const QString topic = HelpTopicOf(modal ? modal : QApplication::activeWindow());
    return topic.isEmpty() ? HelpTopicOf(this) : topic;
}

void CMainWindow::BuildControls() {
    SetCaption(QString::fromUtf8(kMainCaption));
    setWindowIcon(WindowIcon());
    setAcceptDrops(true);
    setSizeGripEnabled(false);

    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menu132"));
    m_menuBar->setNativeMenuBar(false);
    m_menuBar->setAccessibleName(QStringLiteral("Menu bar"));
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));

    const QFont font = this->font();
    auto place = [&](QWidget* widget, QRect units) {
        widget->setGeometry(DialogUnitsToPixels(font, units));
    };

    BuildTable();
    place(m_table, QRect(3, 9, 391, 166));

    m_split = new QPushButton(QString::fromUtf8(engine::kSplitLabel), m_client);
    m_split->setObjectName(QStringLiteral("ctl1002"));
    m_split->setAccessibleName(m_split->text());
    m_split->setDefault(true);
    place(m_split, QRect(143, 182, 109, 14));
    connect(m_split, &QPushButton::clicked, this, [this] { m_run->Press(); });

    m_close = new QPushButton(QStringLiteral("&Close"), m_client);
    m_close->setObjectName(QStringLiteral("ctl1001"));
    m_close->setAccessibleName(QStringLiteral("Close"));
    m_close->setAutoDefault(false);
    place(m_close, QRect(343, 182, 50, 14));
    connect(m_close, &QPushButton::clicked, this, [this] { CloseWindow(); });

    m_countLabel = new QLabel(QStringLiteral("Total Items:"), m_client);
    m_countLabel->setObjectName(QStringLiteral("ctl1025"));
    m_countLabel->setAccessibleName(m_countLabel->text());
    place(m_countLabel, QRect(7, 182, 38, 8));

    m_count = new QLineEdit(m_client);
    m_count->setObjectName(QStringLiteral("ctl1021"));
    m_count->setReadOnly(true);
    m_count->setAccessibleName(QStringLiteral("Total Items:"));
    m_count->setFocusPolicy(Qt::ClickFocus);
    m_countLabel->setBuddy(m_count);
    place(m_count, QRect(47, 182, 40, 12));

    // The invitation to the maker's site is a link of its own kind: it opens the home page and
    // says why when it cannot.
    auto* link = new CHyperlink(QString::fromUtf8(kLinkText), m_client);
    link->SetUrl(QString::fromStdString(HomePageAddress()));
    link->SetUnderline(true);
    link->SetPrompter(m_prompter);
    m_link = link;
    m_link->setObjectName(QStringLiteral("ctl1022"));
    m_link->setAccessibleName(m_link->text());
    place(m_link, QRect(7, 201, 104, 8));
    link->Attach(); // fitted to its text now; resizing the window lays it out afterwards

    // Stored as "Drag && Drop ..." in the template, where "&&" shows one ampersand.
    m_dropHint = new QLabel(QStringLiteral("Drag & Drop file(s) into list below"), m_client);
    m_dropHint->setTextFormat(Qt::PlainText);
    m_dropHint->setAccessibleName(m_dropHint->text());
    m_rightHint = new QLabel(QStringLiteral("Right click item to update"), m_client);
    m_rightHint->setAccessibleName(m_rightHint->text());
    for (QLabel* hint : {m_dropHint, m_rightHint}) {
        // Kept where the template puts them, wide enough for the whole text in this font.
        QRect rect = DialogUnitsToPixels(font, hint == m_dropHint ? QRect(82, 1, 81, 8)
                                                                  : QRect(232, 1, 81, 8));
        rect.setWidth(std::max(rect.width(), hint->sizeHint().width()));
        rect.setHeight(std::max(rect.height(), hint->sizeHint().height()));
        hint->setGeometry(rect);
    }

    setTabOrder(m_split, m_close);
    setTabOrder(m_close, m_table);
}

void CMainWindow::SetSizes() {
    // After the menus are built: an empty menu bar has no height yet.
    const QFont font = this->font();
    // The template's client size, in this font, below the menu bar.
    const QSize client = DialogUnitsToPixels(font, QRect(0, 0, 396, 209)).size();
    resize(client.width(), client.height() + m_menuBar->sizeHint().height());
    // Below this the laid-out controls would cover each other or leave the window: the count
    // box, "Split em'" and "&Close" side by side, the hints whole, the list a few rows high.
    const int countRight = CountBoxX() + Scaled(70);
    const int byButtons = 2 * (countRight + Scaled(6) + Scaled(80)) - Scaled(kNominalFrame.width());
    const int byHints =
        std::max(m_dropHint->geometry().right(), m_rightHint->geometry().right()) + Scaled(6);
    // The columns are wider than any window, so the list's scroll bar is always there.
    const int listRows = 3 * m_table->verticalHeader()->defaultSectionSize() +
                         m_table->horizontalHeader()->sizeHint().height() +
                         m_table->horizontalScrollBar()->sizeHint().height() +
                         2 * m_table->frameWidth();
    setMinimumSize(std::max(byButtons, byHints), m_menuBar->sizeHint().height() + Scaled(130) +
                                                     listRows - Scaled(kNominalFrame.height()));
    FitOnScreen(*this);
}

int CMainWindow::Scaled(int pixels) const {
    return static_cast<int>(std::lround(pixels * m_scale));
}

int CMainWindow::CountBoxX() const {
    // The label keeps its margin from the window's edge; a font wider than the one the figures
    // were drawn for pushes the box right rather than the label out of the window.
    return std::max(Scaled(70), Scaled(10) + m_countLabel->sizeHint().width() + Scaled(4));
}

void CMainWindow::BuildTable() {
    m_table = new QTableView(m_client);
    m_table->setObjectName(QStringLiteral("ctl1000"));
    m_table->setAccessibleName(QStringLiteral("Job list"));
    m_model = new CJobTableModel(m_list, &m_icons, this);
    m_table->setModel(m_model);
    m_table->setItemDelegateForColumn(core::kColStatus, new CStatusDelegate(m_table));
    m_table->setShowGrid(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    for (const int column :
         {core::kColFilename, core::kColMoveTo, core::kColSplitTo, core::kColFileList})
        m_table->setItemDelegateForColumn(column, new CPathCells(m_table));
    // Tab leaves the list for the buttons, as in every other control; walking it cell by cell
    // would take fourteen presses a job before the keyboard reached "Split em'" again.
    m_table->setTabKeyNavigation(false);
    m_table->setSortingEnabled(false);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->setAcceptDrops(false);
    m_table->viewport()->setAcceptDrops(false);
    m_table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    QHeaderView* header = m_table->horizontalHeader();
    header->setObjectName(QStringLiteral("header1000"));
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(0);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < core::kColumnCount; ++c)
        header->resizeSection(c, core::kColumns[static_cast<size_t>(c)].width);

    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { m_ops->Sort(column); });
    // At the row: the menu key asks for it at the current row, wherever the mouse pointer is.
    connect(m_table, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ShowContextMenu(m_table->viewport()->mapToGlobal(at)); });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnViewSelectionChanged(); });
    connect(m_model, &CJobTableModel::listChanged, this, &CMainWindow::OnListChanged);
}

QAction* CMainWindow::AddCommand(QMenu* menu, int id, const QString& text) {
    auto* action = new QAction(text, this);
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    action->setData(id);
    if (menu)
        menu->addAction(action);
    else
        addAction(action);
    m_actions.insert(id, action);
    return action;
}

void CMainWindow::BuildMenus() {
    auto addMenu = [this](const QString& title, const char* name) {
        QMenu* menu = m_menuBar->addMenu(title);
        menu->setObjectName(QString::fromUtf8(name));
        menu->setAccessibleName(WithoutAccessKeys(title));
        return menu;
    };
    QMenu* file = addMenu(QStringLiteral("&File"), "menuFile");
    AddCommand(file, kLoadBatch, QStringLiteral("Load Batch File"));
    AddCommand(file, kAppendBatch, QStringLiteral("Append Batch File"));
    file->addSeparator();
    AddCommand(file, kSaveBatch, QStringLiteral("Save Batch File"));
    AddCommand(file, kSaveAsBatch, QStringLiteral("SaveAs Batch File"));
    file->addSeparator();
    connect(AddCommand(file, kExit, QStringLiteral("&Exit")), &QAction::triggered, this,
            [this] { CloseWindow(); });

    QMenu* options = addMenu(QStringLiteral("&Options"), "menuOptions");
    AddCommand(options, kSetup, QStringLiteral("&Setup"));
    QAction* always = AddCommand(options, kAlwaysShow,
                                 QStringLiteral("Always show parameters box for each file"));
    always->setCheckable(true);
    // The check mark only ever shows the flag; a click toggles the flag, which sets the mark.
    connect(always, &QAction::triggered, this, [this] { m_ops->ToggleAlwaysShow(); });

    // Commands that may open a dialog or a box run once the menu's trigger has returned: an
    // assistive tool presses a menu entry with a call that waits for the press to end, and a
    // modal dialog opened inside it would keep that tool waiting until the dialog closed.
    const auto later = Qt::QueuedConnection;
    QMenu* actions = addMenu(QStringLiteral("&Actions"), "menuActions");
    connect(
        AddCommand(actions, kUpdateSelection, QStringLiteral("&Update Selection")),
        &QAction::triggered, this, [this] { m_ops->UpdateSelection(); }, later);
    connect(
        AddCommand(actions, kDeleteSelection, QStringLiteral("&Delete Current Selection\tDELETE")),
        &QAction::triggered, this, [this] { m_ops->DeleteSelection(); }, later);
    actions->addSeparator();
    connect(AddCommand(actions, kClearAll, QStringLiteral("&Clear ALL")), &QAction::triggered, this,
            [this] { m_ops->ClearAll(); });
    actions->addSeparator();
    connect(AddCommand(actions, kMoveUp, QStringLiteral("Move Up\ta")), &QAction::triggered, this,
            [this] { m_ops->MoveUp(); });
    connect(AddCommand(actions, kMoveDown, QStringLiteral("Move Down\tz")), &QAction::triggered,
            this, [this] { m_ops->MoveDown(); });

    QMenu* sort = addMenu(QStringLiteral("&Sort"), "menuSort");
    connect(AddCommand(sort, kSortFilename, QStringLiteral("&Sort on filename")),
            &QAction::triggered, this, [this] { m_ops->Sort(core::kColFilename); });

    QMenu* window = addMenu(QStringLiteral("Window"), "menuWindow");
    connect(
        AddCommand(window, kRefreshPages, QStringLiteral("&Refresh Page Counts")),
        &QAction::triggered, this, [this] { m_ops->RefreshPageCounts(); }, later);
    connect(
        AddCommand(window, kRefreshAll, QStringLiteral("Refresh ALL")), &QAction::triggered, this,
        [this] { m_ops->RefreshPageCounts(); }, later);

    QMenu* log = addMenu(QStringLiteral("&Log"), "menuLog");
    AddCommand(log, kViewLog, QStringLiteral("&View Log"));
    AddCommand(log, kClearLog, QStringLiteral("&Clear Log"));
    log->addSeparator();
    AddCommand(log, kExportLog, QStringLiteral("&Export Log to CSV"));

    QMenu* help = addMenu(QStringLiteral("&Help"), "menuHelp");
    AddCommand(help, kHomepage, QStringLiteral("Go to Website Homepage"));
    AddCommand(help, kHtmlHelp, QStringLiteral("&HTML Help"));
    help->addSeparator();
    AddCommand(help, kBugReport, QStringLiteral("Email Bug/Suggestion/Comments"));
    // The system menu is the desktop's on this platform; the About entry lives here instead.
    help->addSeparator();
    auto* about = new QAction(QStringLiteral("&About Quillsever..."), this);
    about->setObjectName(QStringLiteral("cmdAbout"));
    about->setData(16);
    help->addAction(about);
    m_actions.insert(16, about);

    // The accelerators: keys taken before any control sees them (see eventFilter).
    connect(AddCommand(nullptr, kAccelMoveUp, QStringLiteral("MoveUp")), &QAction::triggered, this,
            [this] { m_ops->MoveUp(); });
    connect(AddCommand(nullptr, kAccelMoveDown, QStringLiteral("MoveDown")), &QAction::triggered,
            this, [this] { m_ops->MoveDown(); });
    connect(AddCommand(nullptr, kAccelDelete, QStringLiteral("DeleteSelection")),
            &QAction::triggered, this, [this] { m_ops->DeleteSelection(); });
    connect(AddCommand(nullptr, kTraceOn, QStringLiteral("Trace")), &QAction::triggered, this,
            [this] { m_trace.SwitchOn(*m_prompter); });
}

void CMainWindow::Initialise() {
    ShowItemCount();
    if (!m_log.Open(m_prompter)) {
        // The rest of start-up does not happen; the window stays open and usable with the
        // default options, and runs simply record nothing.
        m_ops->SetAlwaysShow(false);
        return;
    }
    core::LoadSetupOptions(m_options, m_setup.setupPath);
    m_ops->SetAlwaysShow(true);
    if (m_setup.allowSplash && !m_options.noSplash)
        StartSplash(this);
    if (m_setup.startWatchdog) {
        m_watchdog = std::make_unique<engine::CMyThread>(m_windowSystem);
        m_watchdog->SetOwner(this);
        m_watchdog->Start();
    }
    m_initialised = true;
    m_split->setFocus();
}

void CMainWindow::LayOut(int w, int h) {
    const auto S = [this](int pixels) { return Scaled(pixels); };
    m_table->setGeometry(0, S(15), w - S(7), h - S(130));
    const int linkHeight = std::max(m_link->sizeHint().height(), S(16));
    m_link->setGeometry(S(7), h - S(62), std::max(S(170), m_link->sizeHint().width()), linkHeight);
    m_split->setGeometry(w / 2 - S(80), h - S(93), S(160), S(25));
    m_close->setGeometry(w - S(80), h - S(93), S(70), S(25));
    const int countX = CountBoxX();
    m_count->setGeometry(countX, h - S(93), S(70), S(25));
    m_countLabel->setGeometry(S(10), h - S(93), countX - S(10), S(25));
    for (QWidget* widget : {static_cast<QWidget*>(m_table), static_cast<QWidget*>(m_link),
                            static_cast<QWidget*>(m_split), static_cast<QWidget*>(m_close),
                            static_cast<QWidget*>(m_count), static_cast<QWidget*>(m_countLabel)})
        widget->update();
}

QSize CMainWindow::NominalFrameSize() const {
    return m_client->size() + QSize(Scaled(kNominalFrame.width()), Scaled(kNominalFrame.height()));
}

void CMainWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int menuHeight = m_menuBar->sizeHint().height();
    m_menuBar->setGeometry(0, 0, width(), menuHeight);
    m_client->setGeometry(0, menuHeight, width(), std::max(0, height() - menuHeight));
    // The layout's figures count from the bottom and right of a frame with a title bar and
    // borders. Window managers draw frames of every size (or none), so the frame is taken as
    // the client area plus a fixed allowance: every control stays whole whatever the frame.
    LayOut(NominalFrameSize().width(), NominalFrameSize().height());
}

void CMainWindow::OnListChanged(int kind, int row, int column, int other) {
    using K = core::JobListChange;
    switch (static_cast<K::Kind>(kind)) {
    case K::HighlightChanged:
    case K::RowChanged:
        SyncRowSelection(row);
        break;
    case K::RowsExchanged:
        m_unsaved = true;
        SyncRowSelection(row);
        SyncRowSelection(other);
        break;
    case K::Reset:
    case K::RowRemoved:
        m_unsaved = true;
        SyncAllSelection();
        break;
    case K::RowInserted:
        m_unsaved = true;
        break;
    case K::CellChanged:
        if (column == core::kColStatus && m_list.Text(row, column) == "Processing")
            m_table->scrollTo(m_model->index(row, core::kColFilename));
        // A batch file keeps every cell but the status, which its reader ignores.
        if (column != core::kColStatus)
            m_unsaved = true;
        break;
    default:
        break;
    }
}

void CMainWindow::SyncRowSelection(int row) {
    if (m_syncing || row < 0 || row >= m_list.Count())
        return;
    m_syncing = true;
    const bool on = m_list.Row(row).highlighted;
    QItemSelectionModel* selection = m_table->selectionModel();
    if (selection->isRowSelected(row, {}) != on)
        selection->select(m_model->index(row, 0),
                          (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                              QItemSelectionModel::Rows);
    m_syncing = false;
}

void CMainWindow::SyncAllSelection() {
    if (m_syncing)
        return;
    m_syncing = true;
    QItemSelection wanted;
    for (int row = 0; row < m_list.Count(); ++row)
        if (m_list.Row(row).highlighted)
            wanted.select(m_model->index(row, 0), m_model->index(row, core::kColumnCount - 1));
    m_table->selectionModel()->select(wanted, QItemSelectionModel::ClearAndSelect);
    m_syncing = false;
}

void CMainWindow::OnViewSelectionChanged() {
    if (m_syncing)
        return;
    m_syncing = true;
    QItemSelectionModel* selection = m_table->selectionModel();
    for (int row = 0; row < m_list.Count(); ++row)
        m_list.SetHighlight(row, selection->isRowSelected(row, {}));
    const QModelIndex current = selection->currentIndex();
    m_list.SetFocus(current.isValid() ? current.row() : -1);
    m_syncing = false;
}

std::unique_ptr<QMenu> CMainWindow::BuildContextMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("&Options"), this);
    menu->setObjectName(QStringLiteral("menu130"));
    menu->setAccessibleName(QStringLiteral("Options"));
    auto add = [&](int id, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QStringLiteral("cmd%1").arg(id));
        action->setData(id);
    };
    add(kUpdateItem, QStringLiteral("Update Item"));
    menu->addSeparator();
    add(kMoveUpItem, QStringLiteral("Move UP"));
    add(kMoveDownItem, QStringLiteral("Move Down"));
    menu->addSeparator();
    add(kDeleteItem, QStringLiteral("Delete Item"));
    return menu;
}

void CMainWindow::ShowContextMenu(const QPoint& at) {
    if (m_list.FirstHighlighted() < 0)
        return;
    std::unique_ptr<QMenu> menu = BuildContextMenu();
    QAction* chosen = menu->exec(at);
    ContextChoice(chosen ? chosen->data().toInt() : 0);
}

void CMainWindow::ContextChoice(int id) {
    switch (id) {
    case kUpdateItem:
        m_ops->UpdateSelection();
        break;
    case kMoveUpItem:
        m_ops->MoveUp();
        break;
    case kMoveDownItem:
        m_ops->MoveDown();
        break;
    case kDeleteItem:
        m_ops->DeleteSelection();
        break;
    default:
        break;
    }
    repaint();
}

bool CMainWindow::HandleAccelerator(QObject* receiver, QKeyEvent* key) {
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || widget->window() != this)
        return false;
    const Qt::KeyboardModifiers modifiers =
        key->modifiers() &
        (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    int id = 0;
    if (modifiers == Qt::NoModifier && key->key() == Qt::Key_A)
        id = kAccelMoveUp;
    else if (modifiers == Qt::NoModifier && key->key() == Qt::Key_Z)
        id = kAccelMoveDown;
    else if (modifiers == Qt::NoModifier && key->key() == Qt::Key_Delete)
        id = kAccelDelete;
    else if (modifiers == Qt::ControlModifier && key->key() == Qt::Key_D)
        id = kTraceOn;
    if (id == 0) {
        // The keyboard's double-click: without it a job could be set to "No" only with the mouse.
        // With no row highlighted yet, Space is the list's own: it highlights the current row.
        if (modifiers != Qt::NoModifier || key->key() != Qt::Key_Space || !m_table ||
            (widget != m_table && widget != m_table->viewport()) || m_list.FirstHighlighted() < 0)
            return false;
        if (key->type() == QEvent::KeyPress)
            m_ops->ToggleSelected();
        return true;
    }
    if (key->type() == QEvent::KeyPress)
        Action(id)->trigger();
    return true;
}

bool CMainWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
        // Before the table's keyboard search or any other control can take the key.
        if (HandleAccelerator(watched, static_cast<QKeyEvent*>(event)))
            return true;
        break;
    case QEvent::MouseButtonDblClick:
        // Seen here through the application-wide filter, like the keys.
        if (m_table && watched == m_table->viewport())
            m_ops->ToggleSelected();
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void CMainWindow::CloseWindow() {
    if (m_closing)
        return;
    m_closing = true;
    m_run->RequestStop();
    m_pump.PumpOnce();
    bool processing = false;
    for (int row = 0; row < m_list.Count(); ++row)
        if (m_list.Text(row, core::kColStatus) == "Processing")
            processing = true;
    m_trace.End();
    done(1);
    if (processing)
        m_setup.exitProcess(1);
}

bool CMainWindow::HasUnsavedJobs() const {
    return m_unsaved && m_list.Count() > 0;
}

void CMainWindow::MarkSaved() {
    m_unsaved = false;
}

void CMainWindow::reject() {
    // Escape. Pressed by habit to dismiss something, it must not end a run unseen or drop a list
    // of jobs nobody saved: with something to lose it asks first, then takes Close's steps.
    if (m_closing)
        return;
    const char* question = nullptr;
    if (m_run->Running())
        question = "A split is running. Stop it and close Quillsever?";
    else if (HasUnsavedJobs())
        question = "The job list has jobs that are not saved in a batch file. Close Quillsever "
                   "without saving them?";
    if (question && m_prompter->Show(question, {}, core::Buttons::YesNo, core::Icon::Question) !=
                        core::Answer::Yes)
        return;
    CloseWindow();
}

void CMainWindow::keyPressEvent(QKeyEvent* event) {
    // Enter presses the button that has the focus, as everywhere on the desktop; anywhere else
    // it presses the default button, "Split em'".
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget());
            focused && focused->isEnabled()) {
            focused->click();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    if (!m_closing)
        CloseWindow();
    event->accept();
}

void CMainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    event->acceptProposedAction();
    // Handled once the drop itself has finished: each file may open a modal dialog, which must
    // not keep the dragging program waiting.
    QTimer::singleShot(0, this, [this, paths] { DropPaths(paths); });
}

void CMainWindow::DropPaths(const std::vector<std::string>& paths) {
    m_ops->DropFiles(paths);
}

} // namespace ui
