#pragma once

#include <chrono>
#include <ctime>

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
  LocalDateTime LocalNow() const override {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    // localtime_r: no shared static buffer.
    if (::localtime_r(&now, &local) == nullptr) {
      return {};
    }
    return LocalDateTime{
        .year = local.tm_year + 1900,
        .month = local.tm_mon + 1,
        .day = local.tm_mday,
        .hour = local.tm_hour,
        .minute = local.tm_min,
        .second = local.tm_sec,
    };
  }
  std::chrono::steady_clock::time_point MonotonicNow() const override {
    return std::chrono::steady_clock::now();
  }
};

}  // namespace korvani::platform
