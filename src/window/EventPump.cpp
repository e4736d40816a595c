#include "window/EventPump.h"

#include <poll.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <vector>

namespace korvani::window {

void DesktopEventWait::Wait(std::span<pollfd> watched, TimePoint deadline) {
  // What is ready already ends the wait before Qt is asked anything: a fast transfer
  // waits thousands of times, most of them for bytes that have arrived by then. Past
  // the deadline the wait only looks, and serves nothing.
  const int timeoutMs = platform::MillisecondsUntil(deadline);
  if (platform::PollReady(watched, 0) || timeoutMs == 0) {
    return;
  }
  // Notifiers for this one wait only: a descriptor the caller closes afterwards must
  // not stay in the dispatcher, where it would wake every later wait.
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
  const auto notify = [&notifiers](pollfd& entry, QSocketNotifier::Type type, short event) {
    auto& notifier = notifiers.emplace_back(std::make_unique<QSocketNotifier>(entry.fd, type));
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&entry, event] {
      entry.revents = static_cast<short>(entry.revents | event);
    });
  };
  for (pollfd& entry : watched) {
    if ((entry.events & POLLIN) != 0) {
      notify(entry, QSocketNotifier::Read, POLLIN);
    }
    if ((entry.events & POLLOUT) != 0) {
      notify(entry, QSocketNotifier::Write, POLLOUT);
    }
  }
  // The timer is an event of its own: it ends the wait when nothing else does.
  QTimer wake;
  if (timeoutMs > 0) {
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(timeoutMs);
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                  QEventLoop::WaitForMoreEvents);
}

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
