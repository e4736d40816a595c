#pragma once

#include <algorithm>

#include "platform/EventWait.h"
#include "support/fakes/FakeClock.h"

namespace korvani::fakes {

// Sleeps on a FakeClock, its time base: each wait moves the clock on to its deadline,
// as a wait that nothing wakes would end, and finds no descriptor ready. Not logged.
class FakeEventWait : public platform::EventWait {
 public:
  explicit FakeEventWait(FakeClock& clock) : EventWait(clock), clock_(clock) {}

  void Wait(std::span<pollfd> watched, TimePoint deadline) override {
    for (pollfd& entry : watched) {
      entry.revents = 0;
    }
    if (deadline != TimePoint::max()) {
      clock_.AdvanceTo(deadline);
    }
  }

 private:
  FakeClock& clock_;
};

}  // namespace korvani::fakes
