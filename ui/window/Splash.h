#pragma once

#include <QDialog>

#include <chrono>

class QTimer;

namespace ui {

// The start-up picture: a borderless window that closes by itself after a while, or early on
// Escape or Enter; mouse clicks do nothing.
class CSplash : public QDialog {
    Q_OBJECT

  public:
    explicit CSplash(QWidget* owner, std::chrono::milliseconds duration = std::chrono::seconds(3));
    QTimer* Timer() const { return m_timer; }

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QTimer* m_timer = nullptr;
};

// Shows the splash once, 10 ms from now, for 3 s, modal over `mainWindow`.
void ScheduleSplash(QWidget* mainWindow);

} // namespace ui
