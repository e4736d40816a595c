#include "window/EventPump.h"

#include <QCoreApplication>
#include <QTimer>

namespace korvani::window {

void ProcessEventsWaiting(QEventLoop::ProcessEventsFlags flags, std::chrono::milliseconds atMost) {
  // The timer is an event of its own: it ends the wait when nothing else does.
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(atMost);
  QCoreApplication::processEvents(flags | QEventLoop::WaitForMoreEvents);
}

}  // namespace korvani::window
