#pragma once

#include <algorithm>
#include <chrono>

#include "platform/Clock.h"

namespace korvani::fakes {

// A clock that only moves when told to. Not logged: reading the time is no
// event worth ordering.
class FakeClock : public platform::Clock {
 public:
  using Monotonic = std::chrono::steady_clock::time_point;

  // 14:05:09 on 6 December 2026 unless set.
  platform::LocalDateTime localNow{2026, 12, 6, 14, 5, 9};
  // Added to the monotonic time after every MonotonicNow(): zero keeps it
  // still, a step longer than a display frame makes every reading a frame apart.
  std::chrono::nanoseconds autoAdvance{0};

  platform::LocalDateTime LocalNow() const override { return localNow; }
  Monotonic MonotonicNow() const override;

  void SetMonotonic(Monotonic now) { monotonicNow_ = now; }
  void Advance(std::chrono::nanoseconds step) { monotonicNow_ += step; }
  // Moves the clock to `later`, unless it is there already.
  void AdvanceTo(Monotonic later) { monotonicNow_ = std::max(monotonicNow_, later); }

 private:
  // Moves on reads, which the interface declares const.
  mutable Monotonic monotonicNow_{};
};

}  // namespace korvani::fakes
