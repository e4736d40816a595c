#include "window/EventPump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <algorithm>

namespace korvani::window {

void ProcessEventsWaiting(QEventLoop::ProcessEventsFlags flags, std::chrono::milliseconds atMost) {
  // The timer is an event of its own: it ends the wait when nothing else does.
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(atMost);
  QCoreApplication::processEvents(flags | QEventLoop::WaitForMoreEvents);
}

void ProcessEventsButInput() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProcessEventsFor(std::chrono::milliseconds span) {
  const QDeadlineTimer deadline(span, Qt::PreciseTimer);
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  while (!deadline.hasExpired()) {
    if (!wake.isActive()) {
      wake.start(std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime())));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

}  // namespace korvani::window
