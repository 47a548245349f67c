#include "ui/dialogs/LogViewerDialog.h"

#include "storage/LogReader.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/dialogs/LogViewerModel.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFontDatabase>
#include <QHeaderView>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>

#include <algorithm>

namespace ui {

namespace {

// The log pads its fields with blanks to fixed widths. Shown without them, a path too long for
// its column is cut in its middle, so that its file name stays in view.
class CTrimmedCells final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        while (option->text.endsWith(QLatin1Char(' ')))
            option->text.chop(1);
    }
};

} // namespace

CLogViewerDialog::CLogViewerDialog(const std::string& logPath, core::Prompter& prompter,
                                   QWidget* parent)
    : QDialog(parent) {
    // Named by its dialog id: the window's help topic follows the dialog that is open.
    setObjectName(QStringLiteral("dlg150"));
    SetHelpTopic(*this, QStringLiteral("log#view"));
    setWindowTitle(QStringLiteral("View Split Log"));
    setModal(true);
    // A title bar without a close box: the dialog closes through its buttons or Escape.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    // A monospace font keeps the log's fixed-width fields in line from row to row.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFontMetrics probe(mono);
    if (probe.horizontalAdvance(QStringLiteral("iiii")) !=
        probe.horizontalAdvance(QStringLiteral("MMMM"))) {
        mono = QFont(QStringLiteral("monospace"));
        mono.setStyleHint(QFont::Monospace);
        mono.setFixedPitch(true);
    }
    // At the desktop's own text size: the log's seven points were small on the screens they
    // were chosen for, and are unreadable on today's.
    mono.setPointSizeF(std::max(QApplication::font().pointSizeF(), 7.0));
    setFont(mono);
    const QFont dialogFont = font();
    const QFontMetrics metrics(dialogFont);

    m_model = new CLogViewerModel(this);
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("logList"));
    m_view->setAccessibleName(QStringLiteral("Split log"));
    m_view->setModel(m_model);
    m_view->setShowGrid(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setTextElideMode(Qt::ElideMiddle);
    // Tab goes on to the buttons rather than through six cells of every line of the log.
    m_view->setTabKeyNavigation(false);
    m_view->setItemDelegate(new CTrimmedCells(m_view));
    m_view->verticalHeader()->hide();
    // Every row is one text line high; fixed heights keep a long log quick to show and scroll.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(QFontMetrics(dialogFont).height() + 4);
    QHeaderView* header = m_view->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(false);
    // Times and sizes get the width of their longest text; the two paths share what is left,
    // and more of them shows as the dialog grows (the rest of a path is in its tooltip).
    const int padding = 2 * metrics.horizontalAdvance(QLatin1Char('0'));
    const int time = metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + padding;
    const int size = metrics.horizontalAdvance(QStringLiteral("000000000")) + padding;
    for (int c = 0; c < storage::kLogColumnCount; ++c) {
        const bool path = c == 2 || c == 5;
        header->setSectionResizeMode(c, path ? QHeaderView::Stretch : QHeaderView::Interactive);
        header->resizeSection(c, c == 1 ? size : time);
    }
    connect(header, &QHeaderView::sectionClicked, m_model, &CLogViewerModel::SortByColumn);

    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setObjectName(QStringLiteral("clearButton"));
    clear->setAccessibleName(QStringLiteral("Clear"));
    clear->setAutoDefault(false);
    connect(clear, &QPushButton::clicked, m_model, &CLogViewerModel::Clear);

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAccessibleName(QStringLiteral("Close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    // The list takes every size change; the buttons keep their size at its two lower corners.
    const QSize button = DialogUnitsToPixels(dialogFont, QRect(0, 0, 50, 14)).size();
    for (QPushButton* b : {clear, close})
        b->setFixedSize(button.expandedTo(b->sizeHint()));
    const QRect margin = DialogUnitsToPixels(dialogFont, QRect(1, 1, 2, 4));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clear);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin.x(), margin.y(), margin.x(), margin.y());
    layout->setSpacing(margin.height());
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    // It opens at its designed size and may be made larger, or smaller down to half of it.
    const QSize first = DialogUnitsToPixels(dialogFont, QRect(0, 0, 435, 180)).size();
    setSizeGripEnabled(true);
    setMinimumSize(first / 2);
    resize(first);
    FitOnScreen(*this);

    if (!m_model->Load(logPath))
        prompter.Show("Can't open split.log", "Log File Error");
}

} // namespace ui
