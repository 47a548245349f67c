#include "ui/preview/ThumbnailStrip.h"

#include "ui/preview/PlanModel.h"
#include "ui/preview/ThumbnailRenderer.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace ui {

namespace {

const QSize kPicture(78, 102); // the largest page picture
const QSize kCell(96, 136);    // picture, frame, margin and the page number beneath
constexpr int kFrame = 4;
constexpr int kAhead = 4; // pages beyond each edge of the view that may still be rendered

} // namespace

// One row per page; all painting is the delegate's.
class CThumbnailStrip::Model : public QAbstractListModel {
  public:
    using QAbstractListModel::QAbstractListModel;
    void SetCount(int count) {
        beginResetModel();
        m_count = count;
        endResetModel();
    }
    int Count() const { return m_count; }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : std::max(m_count, 0);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return QStringLiteral("Page %1").arg(index.row() + 1);
        return {};
    }
    void PageChanged(int page) {
        const QModelIndex at = index(page);
        emit dataChanged(at, at);
    }

  private:
    int m_count = -1;
};

class CThumbnailStrip::Delegate : public QStyledItemDelegate {
  public:
    explicit Delegate(CThumbnailStrip* strip) : QStyledItemDelegate(strip), m_strip(strip) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return kCell; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int page = index.row();
        const QRect cell = option.rect;
        const QRect box(cell.left() + (cell.width() - kPicture.width()) / 2,
                        cell.top() + kFrame + 2, kPicture.width(), kPicture.height());
        const QImage* image = m_strip->m_renderer->Cached(page);
        QRect picture = box;
        if (image) {
            picture = QRect(QPoint(), image->size());
            picture.moveCenter(box.center());
        } else {
            // Painting is the sign that a page is in view: only now is it worth rendering.
            m_strip->m_renderer->Request(page);
        }

        painter->save();
        const core::PageCover cover =
            m_strip->m_plan ? m_strip->m_plan->CoverOf(page + 1) : core::PageCover{};
        if (cover.parts > 0) {
            const QColor colour = PartColour(cover.firstPart);
            painter->fillRect(picture.adjusted(-kFrame, -kFrame, kFrame, kFrame), colour);
            if (cover.parts > 1) {
                // In several outputs: a dark inner line as well as the count.
                painter->setPen(QPen(Qt::black, 1, Qt::DashLine));
                painter->drawRect(picture.adjusted(-kFrame, -kFrame, kFrame - 1, kFrame - 1));
            }
        }
        if (image) {
            // Pages are rendered with a transparent ground; paper is white.
            painter->fillRect(picture, Qt::white);
            painter->drawImage(picture, *image);
        } else
            painter->fillRect(picture, QColor(235, 235, 235));
        // White paper on the list's white ground: a thin edge shows where each page lies before
        // any output frames it.
        painter->setPen(QColor(150, 150, 150));
        painter->drawRect(picture.adjusted(0, 0, -1, -1));
        if (cover.parts == 0 && m_strip->m_plan) {
            // In no output: shown, but faded, so the gaps of a plan stand out.
            painter->fillRect(picture.adjusted(-kFrame, -kFrame, kFrame, kFrame),
                              QColor(255, 255, 255, 170));
        }
        if (cover.parts > 1) {
            const QString count = QStringLiteral("×%1").arg(cover.parts);
            QFont bold = option.font;
            bold.setBold(true);
            painter->setFont(bold);
            const QRect badge(picture.right() - 26, picture.top() + 2, 24, 16);
            painter->fillRect(badge, QColor(20, 20, 20, 200));
            painter->setPen(Qt::white);
            painter->drawText(badge, Qt::AlignCenter, count);
            painter->setFont(option.font);
        }
        if (page + 1 == m_strip->m_anchor) {
            painter->setPen(QPen(option.palette.highlight().color(), 2));
            painter->drawRect(cell.adjusted(1, 1, -2, -2));
        }
        painter->setPen(option.palette.text().color());
        const QRect caption(cell.left(), box.bottom() + kFrame + 2, cell.width(),
                            cell.bottom() - box.bottom() - kFrame - 2);
        painter->drawText(caption, Qt::AlignHCenter | Qt::AlignTop, QString::number(page + 1));
        painter->restore();
    }

  private:
    CThumbnailStrip* m_strip;
};

CThumbnailStrip::CThumbnailStrip(QWidget* parent)
    : QListView(parent), m_renderer(new CThumbnailRenderer(kPicture, this)),
      m_model(new Model(this)) {
    setObjectName(QStringLiteral("thumbnails"));
    setAccessibleName(QStringLiteral("Pages"));
    setAccessibleDescription(
        QStringLiteral("Space marks a page; Shift+Space on another adds that range."));
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setModel(m_model);
    setItemDelegate(new Delegate(this));
    setFixedHeight(kCell.height() + horizontalScrollBar()->sizeHint().height() + 2 * frameWidth());
    connect(m_renderer, &CThumbnailRenderer::opened, this,
            [this](int pages, const QString& problem) {
                m_problem = problem;
                m_model->SetCount(problem.isEmpty() ? pages : 0);
                viewport()->update();
                emit fileOpened();
            });
    connect(m_renderer, &CThumbnailRenderer::rendered, this, [this](int page) {
        m_model->PageChanged(page);
        emit pagePainted(page + 1);
    });
}

CThumbnailStrip::~CThumbnailStrip() = default;

void CThumbnailStrip::ShowFile(const QString& path) {
    // The plan follows every pause in typing; the file is opened once, and a later opening of
    // the dialog on the same, unchanged file finds its pictures still cached. A file replaced
    // under the same name is opened anew.
    const QFileInfo info(path);
    const QString stamp =
        info.exists()
            ? QStringLiteral("%1:%2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch())
            : QString();
    if (path == m_renderer->Path() && stamp == m_stamp)
        return;
    m_stamp = stamp;
    m_anchor = 0;
    m_problem.clear();
    m_model->SetCount(-1);
    m_renderer->Open(path);
    viewport()->update();
}

void CThumbnailStrip::SetPlan(std::shared_ptr<const core::CSplitPlan> plan) {
    m_plan = std::move(plan);
    viewport()->update();
}

int CThumbnailStrip::PageCount() const {
    return m_model->Count();
}

const QString& CThumbnailStrip::Problem() const {
    return m_problem;
}

void CThumbnailStrip::ShowPage(int page) {
    if (page >= 1 && page <= m_model->Count())
        scrollTo(m_model->index(page - 1), QAbstractItemView::PositionAtCenter);
}

QRect CThumbnailStrip::PageRect(int page) const {
    return visualRect(m_model->index(page - 1));
}

void CThumbnailStrip::mouseReleaseEvent(QMouseEvent* event) {
    QListView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex at = indexAt(event->position().toPoint());
    if (at.isValid())
        Pick(at.row() + 1, event->modifiers() & Qt::ShiftModifier);
}

void CThumbnailStrip::keyPressEvent(QKeyEvent* event) {
    // The arrow keys walk the pages; without a key for the click, a range could be added only
    // with the mouse.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Space && currentIndex().isValid() &&
        (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
        Pick(currentIndex().row() + 1, modifiers == Qt::ShiftModifier);
        return;
    }
    QListView::keyPressEvent(event);
}

void CThumbnailStrip::Pick(int page, bool extend) {
    if (extend && m_anchor > 0) {
        const int first = std::min(m_anchor, page);
        const int last = std::max(m_anchor, page);
        m_anchor = 0;
        viewport()->update();
        emit pageRangeChosen(first, last);
        return;
    }
    m_anchor = page;
    viewport()->update();
}

void CThumbnailStrip::paintEvent(QPaintEvent* event) {
    if (m_model->Count() > 0) {
        QListView::paintEvent(event);
        return;
    }
    QPainter painter(viewport());
    const QString text =
        m_model->Count() == -1
            ? (m_renderer->Path().isEmpty() ? QString() : QStringLiteral("Opening the file…"))
            : m_problem;
    painter.setPen(palette().placeholderText().color());
    painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                     text);
}

void CThumbnailStrip::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    WithdrawHidden();
}

void CThumbnailStrip::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    WithdrawHidden();
}

void CThumbnailStrip::WithdrawHidden() {
    // Pages scrolled past are no longer worth the wait; those in view ask again as they paint.
    const int first = indexAt(QPoint(1, kCell.height() / 2)).row();
    const int last = indexAt(QPoint(viewport()->width() - 2, kCell.height() / 2)).row();
    if (first < 0)
        return;
    m_renderer->KeepOnly(std::max(0, first - kAhead),
                         (last < 0 ? m_model->Count() - 1 : last) + kAhead);
}

} // namespace ui
