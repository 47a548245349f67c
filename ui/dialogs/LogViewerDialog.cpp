#include "ui/dialogs/LogViewerDialog.h"

#include "storage/LogReader.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/dialogs/LogViewerModel.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>

namespace ui {

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
    mono.setPointSize(7);
    setFont(mono);
    const QFont dialogFont = font();
    auto place = [&](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(DialogUnitsToPixels(dialogFont, QRect(x, y, width, height)));
    };

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
    m_view->setTextElideMode(Qt::ElideNone);
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
    for (int c = 0; c < storage::kLogColumnCount; ++c)
        header->resizeSection(c, storage::kLogColumns[static_cast<size_t>(c)].width);
    connect(header, &QHeaderView::sectionClicked, m_model, &CLogViewerModel::SortByColumn);
    place(m_view, 1, 1, 434, 160);

    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setObjectName(QStringLiteral("clearButton"));
    clear->setAccessibleName(QStringLiteral("Clear"));
    clear->setAutoDefault(false);
    place(clear, 2, 166, 50, 14);
    connect(clear, &QPushButton::clicked, m_model, &CLogViewerModel::Clear);

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAccessibleName(QStringLiteral("Close"));
    close->setDefault(true);
    place(close, 385, 165, 50, 14);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(DialogUnitsToPixels(dialogFont, QRect(0, 0, 435, 180)).size());

    if (!m_model->Load(logPath))
        prompter.Show("Can't open split.log", "Log File Error");
}

} // namespace ui
