#pragma once

#include "core/Prompter.h"
#include "core/SetupOptions.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace ui {

// The "Setup" dialog over the program's one set of setup options. Save & Exit takes the fields
// and writes setup.ini; Enter takes them without writing; Cancel, Escape and the close box
// leave both alone. A click on any check box takes all fields at once (not into the file).
class CSetupDialog : public QDialog {
    Q_OBJECT
  public:
    CSetupDialog(core::SetupOptions& options, core::Prompter& prompter, QWidget* parent = nullptr,
                 std::string setupPath = core::kSetupFile);

    // Shows the options in the fields.
    void ShowOptions();
    // Takes the fields into the options in their exchange order. A counter width that is not an
    // integer says "Please enter an integer.", keeps the old width, leaves the fields after it
    // untaken and returns false.
    bool TakeFields();
    // Takes the fields, writes setup.ini and closes; the file is written even when the width
    // was refused (with the values the options then hold).
    void SaveAndExit();

    void accept() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    core::SetupOptions& m_options;
    core::Prompter& m_prompter;
    std::string m_setupPath;
    QPushButton* m_save;
    QPushButton* m_cancel;
    QLineEdit* m_prefix;
    QCheckBox* m_useSourceName;
    QLineEdit* m_endText;
    QLineEdit* m_counterWidth;
    QCheckBox* m_noSplash;
    QCheckBox* m_defaultSplit;
    QLineEdit* m_singlePage;
    QLineEdit* m_range;
    QLineEdit* m_delimiter;
};

} // namespace ui
