#pragma once

#include "platform/Clock.h"

namespace korvani::platform {

// The system's local time (time zone included) and its monotonic clock.
class SystemClock final : public Clock {
 public:
  LocalDateTime LocalNow() const override;
  std::chrono::steady_clock::time_point MonotonicNow() const override;
};

}  // namespace korvani::platform
