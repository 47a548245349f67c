#pragma once

#include "core/Prompter.h"

#include <QDialog>

#include <string>

class QPushButton;
class QTableView;

namespace ui {

class CLogViewerModel;

// "View Split Log": the log's lines in six columns of a monospace list, sorted ascending by a
// click on a column header; "Clear" empties the list (not the file), "&Close" or Escape close.
class CLogViewerDialog : public QDialog {
    Q_OBJECT
  public:
    // Reads the log at once; an unreadable log says "Can't open split.log" and shows no rows.
    CLogViewerDialog(const std::string& logPath, core::Prompter& prompter,
                     QWidget* parent = nullptr);

    CLogViewerModel& Model() { return *m_model; }
    QTableView& View() { return *m_view; }

  private:
    CLogViewerModel* m_model;
    QTableView* m_view;
};

} // namespace ui
