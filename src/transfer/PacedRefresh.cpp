#include "transfer/PacedRefresh.h"

namespace korvani::transfer {

PacedRefresh::PacedRefresh(const platform::Clock& clock, std::chrono::nanoseconds frame)
    : clock_(clock), frame_(frame) {}

bool PacedRefresh::RepaintNow() {
  const auto now = clock_.MonotonicNow();
  if (lastRepaint_ && now - *lastRepaint_ < frame_) {
    unpainted_ = true;
    return false;
  }
  lastRepaint_ = now;
  unpainted_ = false;
  return true;
}

bool PacedRefresh::TakeUnpainted() {
  if (!unpainted_) {
    return false;
  }
  lastRepaint_ = clock_.MonotonicNow();
  unpainted_ = false;
  return true;
}

std::optional<std::chrono::steady_clock::time_point> PacedRefresh::UnpaintedDue() const {
  if (!unpainted_) {
    return std::nullopt;
  }
  // A change is owed only after a repaint, which set lastRepaint_.
  return *lastRepaint_ + frame_;
}

}  // namespace korvani::transfer
