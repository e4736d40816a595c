#pragma once

#include <QEventLoop>
#include <chrono>

namespace korvani::window {

// Processes the pending events that `flags` admit, first waiting up to `atMost`
// for one to arrive, so that callers can pace a loop on events instead of spinning.
void ProcessEventsWaiting(QEventLoop::ProcessEventsFlags flags, std::chrono::milliseconds atMost);

// Processes events as they come for the whole of `span`, sleeping in between.
void ProcessEventsFor(std::chrono::milliseconds span);

}  // namespace korvani::window
