#pragma once

#include <QEventLoop>
#include <chrono>

namespace korvani::window {

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
