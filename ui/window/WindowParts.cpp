#include "ui/window/WindowParts.h"

#include "ui/desktop/Artwork.h"
#include "ui/desktop/HelpWindow.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/dialogs/SplitParametersDialog.h"
#include "ui/window/MainWindow.h"
#include "ui/window/Splash.h"

namespace ui {

namespace {

// The window's one Split Parameters dialog, as the list operations see it.
class CDialogPort final : public ParameterDialog {
  public:
    explicit CDialogPort(CMainWindow& window)
        : m_dialog(window.Prompter(), window.Setup().openHelp, &window) {
        // "&Help" opens the manual at the dialog's page, as F1 does, in the program's own help
        // window: nothing outside the program has to be there for it.
        if (!window.Setup().openHelp)
            m_dialog.SetOpenHelp([this] { ShowHelp(&m_dialog, HelpTopicOf(&m_dialog)); });
        m_dialog.setWindowIcon(ProgramIcon());
        // The preview names outputs with the window's own options, as edited in Setup.
        m_dialog.SetPlanContext(&window.Options());
    }
    SplitParametersFields& Fields() override { return m_dialog.Fields(); }
    int Open(bool alwaysShow) override { return m_dialog.Open(alwaysShow); }

  private:
    CSplitParametersDialog m_dialog;
};

} // namespace

std::unique_ptr<ParameterDialog> MakeParameterDialog(CMainWindow& window) {
    return std::make_unique<CDialogPort>(window);
}

QIcon WindowIcon() {
    return ProgramIcon();
}

void StartSplash(QWidget* window) {
    ScheduleSplash(window);
}

} // namespace ui
