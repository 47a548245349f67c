#pragma once

#include "engine/Pump.h"

#include <QPointer>

class QDialog;
class QWidget;

namespace ui {

inline constexpr const char* kConnectionTitle = "Acrobat Connection";
inline constexpr const char* kConnectingText = "Connecting to Adobe Acrobat";
inline constexpr const char* kConnectingHint =
    "If this takes a while please check acrobat isn't waiting for a user prompt.";

// The small modeless notice shown only while the engine session is being created. Nothing is
// read from it; it goes away as soon as the creation returns, whatever the outcome.
class CConnectionNotice final : public engine::ConnectionDialog {
  public:
    explicit CConnectionNotice(QWidget* owner) : m_owner(owner) {}
    ~CConnectionNotice() override;

    void Show() override;
    void Hide() override;

    // The notice while it is up, else null.
    QDialog* Window() const { return m_window; }

  private:
    QPointer<QWidget> m_owner;
    QPointer<QDialog> m_window;
};

} // namespace ui
