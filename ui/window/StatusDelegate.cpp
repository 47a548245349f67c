#include "ui/window/StatusDelegate.h"

#include "ui/window/JobTableModel.h"

#include <QApplication>
#include <QPainter>
#include <QPointF>
#include <QStyle>
#include <QStyleOptionProgressBar>

namespace ui {

void CStatusDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const QVariant progress = index.data(CJobTableModel::ProgressRole);
    if (!progress.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QPointF parts = progress.toPointF();
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = static_cast<int>(parts.y());
    bar.progress = static_cast<int>(parts.x());
    bar.textVisible = true;
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

} // namespace ui
