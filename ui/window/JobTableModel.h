#pragma once

#include "core/JobList.h"

#include <QAbstractTableModel>
#include <QHash>

#include <functional>

namespace ui {

class CFileIconCache;

// The job list as a Qt table: the list stays the one place that holds the jobs, and its
// notices drive the model's begin/end calls, so the view never shows a row the list lacks.
class CJobTableModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    // Parts written and parts in all of a job that is being processed, for the status cell.
    static constexpr int ProgressRole = Qt::UserRole + 1;

    CJobTableModel(core::CJobList& list, const CFileIconCache* icons, QObject* parent = nullptr);
    ~CJobTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Parts written so far of the job in `row`; shown while its status reads "Processing".
    void SetProgress(int row, int written, int total);

    core::CJobList& List() { return m_list; }

  signals:
    // Every notice of the list, after the model has taken it in.
    void listChanged(int kind, int row, int column, int other);

  private:
    void OnChange(const core::JobListChange& change);
    quint64 KeyOf(int row) const;

    core::CJobList& m_list;
    const CFileIconCache* m_icons;
    struct Progress {
        int written = 0;
        int total = 0;
    };
    QHash<quint64, Progress> m_progress;
};

} // namespace ui
