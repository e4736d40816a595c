#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <span>

namespace korvani::platform {

// The one place where the thread sleeps while it waits for the outside world. The
// HTTP client and the tones wait in it for their descriptors; the window lends one
// that also serves the desktop while the thread sleeps.
class EventWait {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~EventWait() = default;
  // Sleeps until one of `watched` is ready for what its `events` ask, `deadline`
  // passes, or the wait has served work of its own that came in meanwhile, and
  // sets every entry's `revents` to what is ready (0 for all when none is).
  // Once the deadline has passed it only looks, without sleeping. A caller loops
  // until what it waits for has happened: a return says only that something may have.
  virtual void Wait(std::span<pollfd> watched, TimePoint deadline) = 0;
};

// poll(2) for up to `timeoutMs` (-1: for ever, 0: only look). True when an entry is
// ready; otherwise, interrupted included, every `revents` is 0.
inline bool PollReady(std::span<pollfd> watched, int timeoutMs) {
  if (::poll(watched.data(), watched.size(), timeoutMs) > 0) {
    return true;
  }
  for (pollfd& entry : watched) {
    entry.revents = 0;
  }
  return false;
}

// The whole milliseconds from now until `deadline`, rounded up so that a sleep never
// ends just before it and spins; -1 (for ever) for TimePoint::max(), 0 once it passed.
inline int MillisecondsUntil(EventWait::TimePoint deadline) {
  if (deadline == EventWait::TimePoint::max()) {
    return -1;
  }
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
          .count();
  return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

// poll(2) and nothing else: for a thread with no window to serve. An interrupted
// poll returns early, which the contract allows: the caller loops.
class PollEventWait final : public EventWait {
 public:
  void Wait(std::span<pollfd> watched, TimePoint deadline) override {
    PollReady(watched, MillisecondsUntil(deadline));
  }
};

}  // namespace korvani::platform
