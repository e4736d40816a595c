#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace korvani::support {

// How a child process ended and what it cost, all its threads together.
struct ChildEnding {
  int waitStatus = 0;
  double userSeconds = 0;
  double systemSeconds = 0;
  long peakResidentKib = 0;  // VmHWM at its end

  bool ExitedCleanly() const;
};

// A program started without Qt, followed through a pidfd. Killed and reaped when
// dropped before it ended.
class SpawnedChild {
 public:
  // Starts `arguments[0]`, looked up on PATH, with `arguments`, in this process's
  // environment or, when given, in `environment` ("NAME=VALUE" each). Throws when it
  // cannot be started.
  explicit SpawnedChild(const std::vector<std::string>& arguments,
                        const std::optional<std::vector<std::string>>& environment = {});
  SpawnedChild(const SpawnedChild&) = delete;
  SpawnedChild& operator=(const SpawnedChild&) = delete;
  ~SpawnedChild();

  pid_t Pid() const { return pid_; }
  // Becomes readable once the process has ended.
  int EndFd() const { return pidFd_.Get(); }
  // The CPU time of all its threads so far, to the nanosecond; nothing once it
  // has been reaped.
  std::optional<double> CpuSeconds() const;
  void Signal(int signal) const;
  // Waits for the end and collects it.
  ChildEnding Reap();
  // Waits up to `timeoutMs` for the end and collects it; kills the process first when
  // it outlived that, and says so with nothing.
  std::optional<ChildEnding> ReapWithin(int timeoutMs);

 private:
  pid_t pid_ = -1;
  platform::UniqueFd pidFd_;
  clockid_t cpuClock_{};
  bool reaped_ = false;
};

}  // namespace korvani::support
