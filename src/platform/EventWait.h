#pragma once

#include <poll.h>

#include <chrono>
#include <span>

#include "platform/Clock.h"

namespace korvani::platform {

// The one place where the thread sleeps while it waits for the outside world. The
// HTTP client and the tones wait in it for their descriptors; the program's wait also
// serves the desktop while the thread sleeps.
//
// One time base: every deadline handed to Wait is a time on the wait's clock, the
// monotonic time of the Clock it was made with, which Now() reads. Whoever hands a
// wait a deadline takes "now" from Now(), so that a fake clock moves every deadline
// of the wait, and a fake wait moves that clock.
class EventWait {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // `clock` must outlive the wait.
  explicit EventWait(const Clock& clock) : clock_(clock) {}
  EventWait(const EventWait&) = delete;
  EventWait& operator=(const EventWait&) = delete;
  virtual ~EventWait() = default;

  // The time base of the deadlines.
  TimePoint Now() const { return clock_.MonotonicNow(); }

  // Sleeps until one of `watched` is ready for what its `events` ask, `deadline`
  // passes, or the wait has served work of its own that came in meanwhile, and
  // sets every entry's `revents` to what is ready (0 for all when none is).
  // Once the deadline has passed it only looks, without sleeping. A caller loops
  // until what it waits for has happened: a return says only that something may have.
  virtual void Wait(std::span<pollfd> watched, TimePoint deadline) = 0;

 protected:
  // The whole milliseconds from Now() until `deadline`, rounded up so that a sleep
  // never ends just before it and spins; -1 (for ever) for TimePoint::max(), 0 once it
  // passed.
  int MillisecondsUntil(TimePoint deadline) const;

 private:
  const Clock& clock_;
};

// poll(2) for up to `timeoutMs` (-1: for ever, 0: only look). True when an entry is
// ready; otherwise, interrupted included, every `revents` is 0.
bool PollReady(std::span<pollfd> watched, int timeoutMs);

// poll(2) and nothing else: for a thread with no window to serve. An interrupted
// poll returns early, which the contract allows: the caller loops.
class PollEventWait final : public EventWait {
 public:
  using EventWait::EventWait;
  void Wait(std::span<pollfd> watched, TimePoint deadline) override;
};

// The wait of a thread that shows a window but takes no input yet: it sleeps on Qt's
// event dispatcher, so that the descriptors it is given, its deadline, the window
// system (exposures, pings) and the session bus (accessibility) each wake it, and it
// serves the desktop's requests and the thread's posted events as they come. Clicks,
// keys and close requests stay queued for a later, unrestricted pass. Needs the
// Q(Gui)Application.
class DesktopEventWait final : public EventWait {
 public:
  using EventWait::EventWait;
  void Wait(std::span<pollfd> watched, TimePoint deadline) override;
};

}  // namespace korvani::platform
