#include "platform/Clock.h"

#include <ctime>

namespace korvani::platform {

LocalDateTime SystemClock::LocalNow() const {
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

std::chrono::steady_clock::time_point SystemClock::MonotonicNow() const {
  return std::chrono::steady_clock::now();
}

}  // namespace korvani::platform
