#include "ui/dialogs/LogViewerModel.h"

#include "core/QuickSort.h"

#include <numeric>

namespace ui {

bool CLogViewerModel::Load(const std::string& logPath) {
    std::vector<storage::LogRow> rows;
    const bool read =
        storage::ReadLog(logPath, [&](const storage::LogRow& row) { rows.push_back(row); });
    SetRows(read ? std::move(rows) : std::vector<storage::LogRow>{});
    return read;
}

void CLogViewerModel::SetRows(std::vector<storage::LogRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void CLogViewerModel::Clear() {
    SetRows({});
}

void CLogViewerModel::SortByColumn(int column) {
    if (column < 0 || column >= storage::kLogColumnCount || m_rows.size() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const auto c = static_cast<size_t>(column);
    // Where each row came from, exchanged along with the rows, so the view's selection and
    // current row can follow them.
    std::vector<int> origin(m_rows.size());
    std::iota(origin.begin(), origin.end(), 0);
    core::QuickSortRows(
        static_cast<int>(m_rows.size()), true, 0, -1,
        [&](int row) -> std::string_view { return m_rows[static_cast<size_t>(row)][c]; },
        [&](int a, int b) {
            std::swap(m_rows[static_cast<size_t>(a)], m_rows[static_cast<size_t>(b)]);
            std::swap(origin[static_cast<size_t>(a)], origin[static_cast<size_t>(b)]);
        });
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> newRowOf(origin.size());
        for (size_t i = 0; i < origin.size(); ++i)
            newRowOf[static_cast<size_t>(origin[i])] = static_cast<int>(i);
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before)
            after << this->index(newRowOf[static_cast<size_t>(index.row())], index.column());
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int CLogViewerModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CLogViewerModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : storage::kLogColumnCount;
}

QVariant CLogViewerModel::data(const QModelIndex& index, int role) const {
    // The tooltip shows the whole cell where the column is too narrow for it.
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return QString::fromStdString(
        m_rows[static_cast<size_t>(index.row())][static_cast<size_t>(index.column())]);
}

QVariant CLogViewerModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= storage::kLogColumnCount)
        return {};
    const std::string_view header = storage::kLogColumns[static_cast<size_t>(section)].header;
    return QString::fromUtf8(header.data(), static_cast<qsizetype>(header.size()));
}

} // namespace ui
