#include "ui/window/JobTableModel.h"

#include "ui/window/FileIcons.h"

#include <QPointF>

namespace ui {

CJobTableModel::CJobTableModel(core::CJobList& list, const CFileIconCache* icons, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_icons(icons) {
    m_list.SetListener([this](const core::JobListChange& change) { OnChange(change); });
}

CJobTableModel::~CJobTableModel() {
    m_list.SetListener({});
}

int CJobTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_list.Count();
}

int CJobTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : core::kColumnCount;
}

QVariant CJobTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_list.Count())
        return {};
    const int row = index.row();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(m_list.Text(row, column));
    case Qt::DecorationRole:
        if (column == core::kColSelected && m_icons) {
            const QIcon icon = m_icons->Icon(m_list.Row(row).icon);
            if (!icon.isNull())
                return icon;
        }
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case ProgressRole: {
        if (column != core::kColStatus || m_list.Text(row, column) != "Processing")
            return {};
        const auto found = m_progress.constFind(KeyOf(row));
        if (found == m_progress.constEnd() || found->total <= 0)
            return {};
        return QPointF(found->written, found->total);
    }
    default:
        return {};
    }
}

QVariant CJobTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= core::kColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromUtf8(
            core::kColumns[static_cast<size_t>(section)].header.data(),
            static_cast<int>(core::kColumns[static_cast<size_t>(section)].header.size()));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags CJobTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Cells are edited only through the Split Parameters dialog, never in place.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

quint64 CJobTableModel::KeyOf(int row) const {
    return m_list.IdAt(row);
}

void CJobTableModel::SetProgress(int row, int written, int total) {
    if (row < 0 || row >= m_list.Count())
        return;
    m_progress.insert(KeyOf(row), Progress{written, total});
    const QModelIndex cell = index(row, core::kColStatus);
    emit dataChanged(cell, cell, {ProgressRole});
}

void CJobTableModel::OnChange(const core::JobListChange& change) {
    using K = core::JobListChange;
    switch (change.kind) {
    case K::AboutToInsert:
        beginInsertRows({}, change.row, change.row);
        break;
    case K::RowInserted:
        endInsertRows();
        break;
    case K::AboutToRemove:
        m_progress.remove(KeyOf(change.row));
        beginRemoveRows({}, change.row, change.row);
        break;
    case K::RowRemoved:
        endRemoveRows();
        break;
    case K::AboutToExchange:
        emit layoutAboutToBeChanged();
        break;
    case K::RowsExchanged:
        // Every persistent index (the view's selection and current row among them) follows
        // its job to the job's new place.
        for (int column = 0; column < core::kColumnCount; ++column) {
            const QModelIndex a = index(change.row, column);
            const QModelIndex b = index(change.other, column);
            changePersistentIndex(a, b);
            changePersistentIndex(b, a);
        }
        emit layoutChanged();
        break;
    case K::AboutToReset:
        beginResetModel();
        break;
    case K::Reset:
        endResetModel();
        break;
    case K::CellChanged: {
        if (change.column == core::kColStatus &&
            m_list.Text(change.row, change.column) != "Processing")
            m_progress.remove(KeyOf(change.row));
        const QModelIndex cell = index(change.row, change.column);
        if (cell.isValid())
            emit dataChanged(cell, cell);
        break;
    }
    case K::RowChanged:
        if (change.row >= 0 && change.row < m_list.Count())
            emit dataChanged(index(change.row, 0), index(change.row, core::kColumnCount - 1));
        break;
    case K::HighlightChanged:
        break;
    }
    emit listChanged(static_cast<int>(change.kind), change.row, change.column, change.other);
}

} // namespace ui
