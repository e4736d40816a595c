#include "ChildProcess.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace korvani::bench {
namespace {

// Through syscall(): Debian 12's <sys/pidfd.h> declares pidfd_open without C linkage.
int OpenPidFd(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const int failure = posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ);
  if (failure != 0) {
    throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(failure));
  }
  pidFd_ = platform::UniqueFd(OpenPidFd(pid_));
  if (!pidFd_.IsOpen() || clock_getcpuclockid(pid_, &cpuClock_) != 0) {
    ::kill(pid_, SIGKILL);
    Reap();
    throw std::runtime_error("cannot follow " + arguments[0]);
  }
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    Reap();
  }
}

std::optional<double> ChildProcess::CpuSeconds() const {
  timespec used{};
  if (reaped_ || clock_gettime(cpuClock_, &used) != 0) {
    return std::nullopt;
  }
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

void ChildProcess::Signal(int signal) const {
  if (!reaped_) {
    ::kill(pid_, signal);
  }
}

ChildEnding ChildProcess::Reap() {
  ChildEnding ending;
  rusage usage{};
  pid_t reaped = -1;
  do {
    reaped = wait4(pid_, &ending.waitStatus, 0, &usage);
  } while (reaped < 0 && errno == EINTR);
  reaped_ = true;
  ending.userSeconds = Seconds(usage.ru_utime);
  ending.systemSeconds = Seconds(usage.ru_stime);
  return ending;
}

}  // namespace korvani::bench
