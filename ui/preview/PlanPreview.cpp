#include "ui/preview/PlanPreview.h"

#include "ui/preview/PlanModel.h"
#include "ui/preview/ThumbnailStrip.h"

#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace ui {

namespace {

// Long enough that a word typed at speed is planned once, short enough to feel immediate.
constexpr int kPauseMilliseconds = 150;
constexpr int kListHeight = 170;

} // namespace

CPlanPreview::CPlanPreview(std::function<core::PlanJob()> job, QWidget* parent)
    : QWidget(parent), m_job(std::move(job)) {
    setObjectName(QStringLiteral("planPreview"));
    m_debounce = new QTimer(this);
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(kPauseMilliseconds);
    connect(m_debounce, &QTimer::timeout, this, &CPlanPreview::UpdateNow);

    m_toggle = new QToolButton(this);
    m_toggle->setObjectName(QStringLiteral("planToggle"));
    m_toggle->setText(QStringLiteral("Preview"));
    m_toggle->setAccessibleName(QStringLiteral("Preview"));
    m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toggle->setAutoRaise(true);
    m_toggle->setCheckable(true);
    m_toggle->setChecked(true);
    m_toggle->setArrowType(Qt::DownArrow);
    m_toggle->setFocusPolicy(Qt::TabFocus);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("planSummary"));
    m_summary->setAccessibleName(QStringLiteral("Plan summary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    m_body = new QWidget(this);
    m_strip = new CThumbnailStrip(m_body);

    m_model = new CPlanModel(this);
    m_list = new QTreeView(m_body);
    m_list->setObjectName(QStringLiteral("planList"));
    m_list->setAccessibleName(QStringLiteral("Planned files"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true); // twenty thousand rows lay out without being measured
    m_list->setAlternatingRowColors(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setModel(m_model);
    // The names take whatever width the preview has, shortened in the middle so that the file
    // name at their end stays in view; pages and notes take what their texts need. A column
    // wider than the view would cut every name at the right, where it matters most.
    QHeaderView* columns = m_list->header();
    columns->setStretchLastSection(false);
    columns->setSectionResizeMode(CPlanModel::kPages, QHeaderView::ResizeToContents);
    columns->setSectionResizeMode(CPlanModel::kPath, QHeaderView::Stretch);
    columns->setSectionResizeMode(CPlanModel::kNote, QHeaderView::Interactive);
    m_list->setMinimumHeight(4 * m_list->fontMetrics().height());

    m_hint = new QLabel(QStringLiteral("Click a page, then shift-click another to add that range."),
                        this);
    m_hint->setObjectName(QStringLiteral("planHint"));
    m_hint->setTextFormat(Qt::PlainText);
    m_hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->addWidget(m_toggle);
    header->addWidget(m_hint, 1);
    auto* body = new QVBoxLayout(m_body);
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(m_strip);
    body->addWidget(m_list, 1);
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(0, 0, 0, 0);
    all->addLayout(header);
    all->addWidget(m_summary); // a line of its own: the longest summary still fits
    all->addWidget(m_body, 1);

    connect(m_toggle, &QToolButton::toggled, this, [this](bool on) {
        m_toggle->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        m_body->setVisible(on);
        m_hint->setVisible(on);
        if (on)
            UpdateNow();
        emit expandedChanged(on);
    });
    connect(m_strip, &CThumbnailStrip::pageRangeChosen, this, &CPlanPreview::pageRangeChosen);
    connect(m_strip, &CThumbnailStrip::fileOpened, this, &CPlanPreview::ShowSummary);
    // Picking an output brings its first page into view.
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (m_plan && current.isValid())
                    m_strip->ShowPage(
                        m_plan->Outputs()[static_cast<size_t>(current.row())].range.first);
            });
}

CPlanPreview::~CPlanPreview() = default;

void CPlanPreview::SetOptions(const core::SetupOptions* options) {
    m_options = options;
    Schedule();
}

void CPlanPreview::Schedule() {
    m_debounce->start();
}

void CPlanPreview::UpdateNow() {
    m_debounce->stop();
    const core::PlanJob job = m_job();
    QElapsedTimer clock;
    clock.start();
    m_plan = std::make_shared<const core::CSplitPlan>(
        core::CSplitPlan::Make(job, m_options ? *m_options : m_defaults));
    m_model->SetPlan(m_plan);
    // Notes only for a plan that has some, and then a third of the width: the names come first.
    const auto& outputs = m_plan->Outputs();
    const bool notes = std::any_of(outputs.begin(), outputs.end(),
                                   [](const core::PlannedOutput& out) { return out.sameAs >= 0; });
    m_list->setColumnHidden(CPlanModel::kNote, !notes);
    if (notes)
        m_list->header()->resizeSection(CPlanModel::kNote, width() / 3);
    m_strip->SetPlan(m_plan);
    m_lastMilliseconds = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    ShowSummary();
    // Pictures only for a preview someone can see; a dialog that closes at once never opens
    // the file.
    if (Expanded() && isVisible())
        m_strip->ShowFile(QString::fromStdString(job.source));
}

void CPlanPreview::ShowSummary() {
    if (!m_plan)
        return;
    QString text;
    QString tip;
    QPalette palette = m_summary->palette();
    palette.setColor(QPalette::WindowText, this->palette().color(QPalette::WindowText));
    if (m_plan->Refused()) {
        const QString refusal = QString::fromStdString(m_plan->Refusal()).trimmed();
        tip = refusal;
        if (m_plan->Outputs().empty()) {
            text = QString(refusal).replace(QLatin1Char('\n'), QLatin1Char(' '));
        } else {
            // The run refuses this job because two outputs with different pages share a name;
            // the list marks them.
            text = QStringLiteral("Split em' refuses this job: outputs with different pages "
                                  "get the same file name (marked below).");
        }
        palette.setColor(QPalette::WindowText, QColor(170, 20, 20));
    } else {
        text = QString::fromStdString(m_plan->Summary());
        if (!m_strip->Problem().isEmpty() && Expanded())
            tip = m_strip->Problem();
    }
    m_summary->setPalette(palette);
    m_summary->setText(text);
    m_summary->setToolTip(tip);
    // A label named on its own is heard by its name alone: the name carries the summary, or a
    // screen reader would never hear how many files come out or why the run would refuse them.
    m_summary->setAccessibleName(text.isEmpty() ? QStringLiteral("Plan summary") : text);
}

bool CPlanPreview::Expanded() const {
    return m_toggle->isChecked();
}

void CPlanPreview::SetExpanded(bool expanded) {
    m_toggle->setChecked(expanded);
}

int CPlanPreview::FoldedHeight() const {
    return m_toggle->sizeHint().height() + std::max(0, layout()->spacing()) +
           m_summary->fontMetrics().height();
}

void CPlanPreview::SetBeside(bool beside) {
    // The policy first: wrapping adds its height-for-width to whatever policy it finds.
    m_hint->setSizePolicy(beside ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                          QSizePolicy::Preferred);
    m_hint->setWordWrap(beside);
    m_summary->setWordWrap(beside);
}

int CPlanPreview::UnfoldedHeight() const {
    const int outer = std::max(0, layout()->spacing());
    const int inner = std::max(0, m_body->layout()->spacing());
    return FoldedHeight() + outer + m_strip->height() + inner + kListHeight;
}

} // namespace ui
