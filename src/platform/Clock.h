#pragma once

#include <chrono>

namespace korvani::platform {

struct LocalDateTime {
  int year = 0;  // four digits
  int month = 0;
  int day = 0;
  int hour = 0;  // 0 to 23
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime LocalNow() const = 0;
  // Never jumps with the wall clock: pauses and pacing are measured on it.
  virtual std::chrono::steady_clock::time_point MonotonicNow() const = 0;
};

// The system's local time (time zone included) and its monotonic clock.
class SystemClock final : public Clock {
 public:
  LocalDateTime LocalNow() const override;
  std::chrono::steady_clock::time_point MonotonicNow() const override;
};

}  // namespace korvani::platform
