#include "startup/FetcherProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Fetcher.h"
#include "startup/Display.h"

namespace korvani::startup {
namespace {

constexpr const char* kInheritanceName = "KORVANI_FETCHER";
// Where the channel sits in the fetcher, below every descriptor it closes.
constexpr int kChannel = 3;
// The fetcher has nothing to finish once its channel has closed; it is only waited for so
// that no process of the run is left behind.
constexpr int kReapDeadlineMs = 1000;

// In the fetcher, from fork to end: leaves it holding nothing but the channel, confines
// it, and serves the window's process.
[[noreturn]] void RunFetcher(int channel, const platform::ConfinementInputs& confinement,
                             const platform::CurlTimeouts& timeouts) {
  // Out of the way first: the channel may sit where /dev/null or the channel's place is.
  const int moved = ::fcntl(channel, F_DUPFD_CLOEXEC, kChannel + 1);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (moved < 0 || null < 0) {
    std::_Exit(0);
  }
  for (int standard = 0; standard <= 2; ++standard) {
    ::dup2(null, standard);
  }
  if (::dup2(moved, kChannel) != kChannel) {
    std::_Exit(0);
  }
  // Everything else the window's process had open before the fork: none of it is the
  // fetcher's to use.
  ::close_range(kChannel + 1, ~0U, 0);
  try {
    platform::ConfineFetcherProcess(confinement);
    platform::SystemClock clock;
    platform::CurlHttpClient http(timeouts);
    platform::ServeFetches(kChannel, http, clock);
  } catch (...) {
    // Out of memory, before it was confined or after: it ends, never to run unconfined or
    // to return into the window's start-up. The window's side sees the channel close and
    // fails the transfer.
  }
  // No exit handlers: they belong to the window's process, whose image this still is.
  std::_Exit(0);
}

}  // namespace

FetcherProcess::FetcherProcess(const platform::ConfinementInputs& confinement,
                               const platform::CurlTimeouts& timeouts) {
  if (!IsDisplayLossRestart() || !Inherit()) {
    Fork(confinement, timeouts);
  }
}

std::string FetcherProcess::InheritanceVariable() const {
  if (!channel_.IsOpen() || child_ <= 0) {
    return {};
  }
  return std::string(kInheritanceName) + "=" + std::to_string(channel_.Get()) + "," +
         std::to_string(child_);
}

bool FetcherProcess::Inherit() {
  const char* value = std::getenv(kInheritanceName);
  if (value == nullptr) {
    return false;
  }
  const std::string_view text(value);
  const auto comma = text.find(',');
  int control = -1;
  pid_t child = -1;
  const auto read = [](std::string_view digits, auto& number) {
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size();
  };
  struct stat status {};
  if (comma == std::string_view::npos || !read(text.substr(0, comma), control) ||
      !read(text.substr(comma + 1), child) || control < 3 || child <= 0 ||
      ::fstat(control, &status) != 0 || !S_ISSOCK(status.st_mode)) {
    return false;
  }
  // Ours again, and closed by any later exec like every other descriptor.
  ::fcntl(control, F_SETFD, FD_CLOEXEC);
  channel_ = platform::UniqueFd(control);
  child_ = child;
  return true;
}

void FetcherProcess::Fork(const platform::ConfinementInputs& confinement,
                          const platform::CurlTimeouts& timeouts) {
  int ends[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    return;
  }
  platform::UniqueFd windowEnd(ends[0]);
  platform::UniqueFd fetcherEnd(ends[1]);
  child_ = ::fork();
  if (child_ == 0) {
    // The window's end lives in the window's process alone, so that its end, however it
    // comes (SIGKILL included), closes the control socket and ends the fetcher.
    windowEnd = platform::UniqueFd();
    RunFetcher(fetcherEnd.Get(), confinement, timeouts);
  }
  if (child_ > 0) {
    channel_ = std::move(windowEnd);
  }
}

FetcherProcess::~FetcherProcess() {
  channel_ = platform::UniqueFd();
  if (child_ <= 0) {
    return;
  }
  // The child's end makes its pidfd readable: awaited with a deadline, not polled.
  const platform::UniqueFd ended(static_cast<int>(::syscall(SYS_pidfd_open, child_, 0)));
  pollfd end{.fd = ended.Get(), .events = POLLIN, .revents = 0};
  if (ended.IsOpen() && ::poll(&end, 1, kReapDeadlineMs) == 1) {
    ::waitpid(child_, nullptr, 0);
  }
}

}  // namespace korvani::startup
