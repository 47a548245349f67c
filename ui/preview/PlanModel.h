#pragma once

#include "core/SplitPlan.h"

#include <QAbstractTableModel>
#include <QColor>

#include <memory>

namespace ui {

// The colour of output `part` (0-based) wherever the plan shows it: its row and the frames of
// its pages. Neighbouring parts get hues far apart.
QColor PartColour(int part);

// The outputs of a plan, one row each: pages, output path, and a note where a path repeats.
// Rows are made only when the view paints them, so twenty thousand outputs cost nothing until
// they are looked at.
class CPlanModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { kPages, kPath, kNote, kColumns };

    explicit CPlanModel(QObject* parent = nullptr);

    void SetPlan(std::shared_ptr<const core::CSplitPlan> plan);
    const core::CSplitPlan* Plan() const { return m_plan.get(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The note of output `row`: empty, or which earlier output has its path.
    QString Note(int row) const;

  private:
    std::shared_ptr<const core::CSplitPlan> m_plan;
};

} // namespace ui
