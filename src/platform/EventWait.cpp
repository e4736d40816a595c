#include "platform/EventWait.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace korvani::platform {

int EventWait::MillisecondsUntil(TimePoint deadline) const {
  if (deadline == TimePoint::max()) {
    return -1;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

bool PollReady(std::span<pollfd> watched, int timeoutMs) {
  if (::poll(watched.data(), watched.size(), timeoutMs) > 0) {
    return true;
  }
  for (pollfd& entry : watched) {
    entry.revents = 0;
  }
  return false;
}

void PollEventWait::Wait(std::span<pollfd> watched, TimePoint deadline) {
  PollReady(watched, MillisecondsUntil(deadline));
}

void DesktopEventWait::Wait(std::span<pollfd> watched, TimePoint deadline) {
  // What is ready already ends the wait before Qt is asked anything: a fast transfer
  // waits thousands of times, most of them for bytes that have arrived by then. Past
  // the deadline the wait only looks, and serves nothing.
  const int timeoutMs = MillisecondsUntil(deadline);
  if (PollReady(watched, 0) || timeoutMs == 0) {
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

}  // namespace korvani::platform
