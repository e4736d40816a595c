#include "support/SpawnedChild.h"

#include <poll.h>
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

namespace korvani::support {
namespace {

// Through syscall(): Debian 12's <sys/pidfd.h> declares pidfd_open without C linkage.
int OpenPidFd(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// The C strings of `texts`, ended by a null pointer, as exec takes them.
std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (const std::string& text : texts) {
    pointers.push_back(const_cast<char*>(text.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

bool ChildEnding::ExitedCleanly() const {
  return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
}

SpawnedChild::SpawnedChild(const std::vector<std::string>& arguments,
                           const std::optional<std::vector<std::string>>& environment) {
  const std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp;
  if (environment) {
    envp = Pointers(*environment);
  }
  const int failure = posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(),
                                   environment ? envp.data() : environ);
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

SpawnedChild::~SpawnedChild() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    Reap();
  }
}

std::optional<double> SpawnedChild::CpuSeconds() const {
  timespec used{};
  if (reaped_ || clock_gettime(cpuClock_, &used) != 0) {
    return std::nullopt;
  }
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

void SpawnedChild::Signal(int signal) const {
  if (!reaped_) {
    ::kill(pid_, signal);
  }
}

ChildEnding SpawnedChild::Reap() {
  ChildEnding ending;
  rusage usage{};
  pid_t reaped = -1;
  do {
    reaped = wait4(pid_, &ending.waitStatus, 0, &usage);
  } while (reaped < 0 && errno == EINTR);
  reaped_ = true;
  ending.userSeconds = Seconds(usage.ru_utime);
  ending.systemSeconds = Seconds(usage.ru_stime);
  ending.peakResidentKib = usage.ru_maxrss;
  return ending;
}

std::optional<ChildEnding> SpawnedChild::ReapWithin(int timeoutMs) {
  pollfd ended{EndFd(), POLLIN, 0};
  int ready = -1;
  do {
    ready = ::poll(&ended, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready != 1) {
    Signal(SIGKILL);
    Reap();
    return std::nullopt;
  }
  return Reap();
}

}  // namespace korvani::support
