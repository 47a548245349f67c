#include "ui/WindowParts.h"

#include "ui/MainWindow.h"

namespace ui {

namespace {

// Until the dialog exists every prompt is cancelled: rows keep what AddFile gave them.
class CNoParameterDialog final : public ParameterDialog {
  public:
    SplitParametersFields& Fields() override { return m_fields; }
    int Open(bool) override { return 0; }

  private:
    SplitParametersFields m_fields;
};

} // namespace

std::unique_ptr<ParameterDialog> MakeParameterDialog(CMainWindow&) {
    return std::make_unique<CNoParameterDialog>();
}

QIcon WindowIcon() { return {}; }

void StartSplash(QWidget*) {}

} // namespace ui
