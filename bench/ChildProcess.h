#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace korvani::bench {

// How a child process ended and the CPU time it used, all its threads together.
struct ChildEnding {
  int waitStatus = 0;
  double userSeconds = 0;
  double systemSeconds = 0;
};

// A program started by the benchmark. Killed and reaped when dropped before it ended.
class ChildProcess {
 public:
  // Starts `arguments[0]`, looked up on PATH, with `arguments`. Throws when it
  // cannot be started.
  explicit ChildProcess(const std::vector<std::string>& arguments);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t Pid() const { return pid_; }
  // Becomes readable once the process has ended.
  int EndFd() const { return pidFd_.Get(); }
  // The CPU time of all its threads so far, to the nanosecond; nothing once it
  // has been reaped.
  std::optional<double> CpuSeconds() const;
  void Signal(int signal) const;
  // Waits for the end and collects it.
  ChildEnding Reap();

 private:
  pid_t pid_ = -1;
  platform::UniqueFd pidFd_;
  clockid_t cpuClock_{};
  bool reaped_ = false;
};

}  // namespace korvani::bench
