#pragma once

#include <QStyledItemDelegate>

namespace ui {

// Draws the "Status" cell of a job being processed with a bar of parts written behind its
// unchanged text; every other cell is drawn as usual.
class CStatusDelegate final : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace ui
