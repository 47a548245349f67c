#include "ui/desktop/QtPump.h"

#include <QCoreApplication>

namespace ui {

void CQtPump::PumpOnce() {
    // Qt cannot take exactly one event off its queue; handling what is pending now (and not
    // waiting for more) keeps the step short in the same way.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace ui
