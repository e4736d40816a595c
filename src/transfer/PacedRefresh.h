#pragma once

#include <chrono>
#include <optional>

#include "platform/Clock.h"

namespace korvani::transfer {

// Decides which changes of the progress display are repainted. A repaint costs
// far more than receiving one read, so repaints are held to the display's own
// rate: the first change at once, then at most one per frame. A change that was
// not repainted stays owed until the next repaint or TakeUnpainted().
class PacedRefresh {
 public:
  static constexpr std::chrono::nanoseconds kDisplayFrame{1'000'000'000 / 60};

  explicit PacedRefresh(const platform::Clock& clock,
                        std::chrono::nanoseconds frame = kDisplayFrame);

  // Notes a change of the display; true when the caller should repaint it now.
  bool RepaintNow();
  // True, once, when a change is still waiting for its repaint; the caller
  // then repaints it.
  bool TakeUnpainted();
  // When the change still waiting for its repaint may be repainted; nothing when
  // none is waiting.
  std::optional<std::chrono::steady_clock::time_point> UnpaintedDue() const;

 private:
  const platform::Clock& clock_;
  std::chrono::nanoseconds frame_;
  std::optional<std::chrono::steady_clock::time_point> lastRepaint_;
  bool unpainted_ = false;
};

}  // namespace korvani::transfer
