#pragma once

#include "storage/LogReader.h"

#include <QAbstractTableModel>

#include <vector>

namespace ui {

// The rows of the split log for the viewer: six text columns, in file order until a column is
// sorted. The rows are held once, as the reader gives them; the view asks only for what it
// shows, so a log of a hundred thousand lines opens at once.
class CLogViewerModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    using QAbstractTableModel::QAbstractTableModel;

    // Reads the log anew; false (and no rows) when it cannot be opened.
    bool Load(const std::string& logPath);
    void SetRows(std::vector<storage::LogRow> rows);
    // Removes every row (the file is not touched).
    void Clear();
    // Sorts ascending by the column's texts with the list views' shared quicksort; selected
    // and current rows move with their rows.
    void SortByColumn(int column);

    const std::vector<storage::LogRow>& Rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    std::vector<storage::LogRow> m_rows;
};

} // namespace ui
