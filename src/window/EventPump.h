#pragma once

#include <QEventLoop>
#include <chrono>

#include "platform/EventWait.h"

namespace korvani::window {

// The thread's one wait while the window is up but not yet taking input: it sleeps
// on Qt's event dispatcher, so that the descriptors it is given, its deadline, the
// window system (exposures, pings) and the session bus (accessibility) each wake it,
// and it serves the desktop's requests as they come. Clicks, keys and close requests
// stay queued for the pause. Needs the QApplication.
class DesktopEventWait final : public platform::EventWait {
 public:
  void Wait(std::span<pollfd> watched, TimePoint deadline) override;
};

// Processes the pending events that `flags` admit, first waiting up to `atMost`
// for one to arrive, so that callers can pace a loop on events instead of spinning.
void ProcessEventsWaiting(QEventLoop::ProcessEventsFlags flags, std::chrono::milliseconds atMost);

// Handles the window system's pending events other than user input: exposures
// are repainted, pings answered, accessibility queries served. Clicks, keys and
// close requests stay queued for a later, unrestricted pass.
void ProcessEventsButInput();

// Processes events as they come for the whole of `span`, sleeping in between.
void ProcessEventsFor(std::chrono::milliseconds span);

}  // namespace korvani::window
