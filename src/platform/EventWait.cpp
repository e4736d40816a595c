#include "platform/EventWait.h"

namespace korvani::platform {

void PollEventWait::Wait(std::span<pollfd> watched, TimePoint deadline) {
  // An interrupted poll returns early, which the contract allows: the caller loops.
  if (::poll(watched.data(), watched.size(), MillisecondsUntil(deadline)) <= 0) {
    for (pollfd& entry : watched) {
      entry.revents = 0;
    }
  }
}

}  // namespace korvani::platform
