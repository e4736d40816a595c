#include "support/fakes/FakeClock.h"

namespace korvani::fakes {

FakeClock::Monotonic FakeClock::MonotonicNow() const {
  const Monotonic now = monotonicNow_;
  monotonicNow_ += autoAdvance;
  return now;
}

}  // namespace korvani::fakes
