#pragma once

#include <QEventLoop>
#include <chrono>

namespace korvani::window {

// Processes the pending events that `flags` admit, first waiting up to `atMost`
// for one to arrive, so that callers can pace a loop on events instead of spinning.
void ProcessEventsWaiting(QEventLoop::ProcessEventsFlags flags, std::chrono::milliseconds atMost);

}  // namespace korvani::window
