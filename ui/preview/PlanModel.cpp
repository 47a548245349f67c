#include "ui/preview/PlanModel.h"

#include <QBrush>

namespace ui {

QColor PartColour(int part) {
    // Steps of the golden angle: any two nearby parts differ clearly in hue.
    const int hue = static_cast<int>((static_cast<long long>(part) * 137 + 200) % 360);
    return QColor::fromHsv(hue, 170, 215);
}

CPlanModel::CPlanModel(QObject* parent) : QAbstractTableModel(parent) {}

void CPlanModel::SetPlan(std::shared_ptr<const core::CSplitPlan> plan) {
    beginResetModel();
    m_plan = std::move(plan);
    endResetModel();
}

int CPlanModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !m_plan)
        return 0;
    return static_cast<int>(m_plan->Outputs().size());
}

int CPlanModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString CPlanModel::Note(int row) const {
    const auto& outputs = m_plan->Outputs();
    const core::PlannedOutput& output = outputs[static_cast<size_t>(row)];
    if (output.sameAs < 0)
        return {};
    const core::PlannedOutput& earlier = outputs[static_cast<size_t>(output.sameAs)];
    return earlier.range == output.range
               ? QStringLiteral("as output %1, written again").arg(output.sameAs + 1)
               : QStringLiteral("as output %1, other pages").arg(output.sameAs + 1);
}

QVariant CPlanModel::data(const QModelIndex& index, int role) const {
    if (!m_plan || !index.isValid() || index.row() >= rowCount())
        return {};
    const core::PlannedOutput& output = m_plan->Outputs()[static_cast<size_t>(index.row())];
    const bool marked = output.sameAs >= 0;
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == kPages)
            return output.range.first == output.range.last
                       ? QString::number(output.range.first)
                       : QStringLiteral("%1-%2").arg(output.range.first).arg(output.range.last);
        if (index.column() == kPath)
            return QString::fromStdString(output.path);
        return Note(index.row());
    case Qt::ToolTipRole:
        if (index.column() == kPath || marked)
            return QString::fromStdString(output.path) +
                   (marked ? QStringLiteral("\n") + Note(index.row()) : QString());
        return {};
    case Qt::DecorationRole:
        if (index.column() == kPages)
            return PartColour(index.row());
        return {};
    case Qt::ForegroundRole:
        if (marked)
            return QBrush(QColor(170, 20, 20));
        return {};
    case Qt::BackgroundRole:
        if (marked)
            return QBrush(QColor(255, 228, 220));
        return {};
    default:
        return {};
    }
}

QVariant CPlanModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case kPages:
        return QStringLiteral("Pages");
    case kPath:
        return QStringLiteral("Output file");
    default:
        return QStringLiteral("Note");
    }
}

} // namespace ui
