#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace korvani::packagehost {

// Raised once when the host is asked to stop. Answers that are held back on purpose wait
// on it instead of sleeping, so a stop never waits out a stall or a delay.
class StopSignal {
 public:
  using Clock = std::chrono::steady_clock;

  void Raise() {
    {
      const std::lock_guard lock(mutex_);
      raised_ = true;
    }
    changed_.notify_all();
  }

  bool Raised() const {
    const std::lock_guard lock(mutex_);
    return raised_;
  }

  // True once `deadline` has passed; false as soon as the stop is raised.
  bool WaitUntil(Clock::time_point deadline) const {
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, deadline, [this] { return raised_; });
  }

  bool WaitFor(double seconds) const {
    return WaitUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds)));
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool raised_ = false;
};

}  // namespace korvani::packagehost
