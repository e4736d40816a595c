// ping_bench [--title TEXT] [--every MS] [--timeout SECONDS] -- PROGRAM [ARGUMENT...]
//
// Starts PROGRAM, finds its own top-level window titled TEXT (default "Setup - Korvani")
// on $DISPLAY and, for as long as that window shows, pings it as a window manager
// does (_NET_WM_PING): each ping MS milliseconds (default 100) after the previous
// one was answered. Prints on one line
//   pings=N longest_ping_s=... median_ping_s=... unanswered=K
// where an unanswered ping is one the window went away without answering. Exits 1
// when the window never showed or PROGRAM outlived the time-out (default 60 s).

#include <poll.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/SpawnedChild.h"
#include "support/X11Client.h"

namespace {

using korvani::support::SpawnedChild;
using korvani::support::X11Client;
using korvani::support::XWindow;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string title = "Setup - Korvani";
  std::chrono::milliseconds every{100};
  std::chrono::milliseconds timeout{60'000};
  std::vector<std::string> program;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  int index = 1;
  for (; index < argc; ++index) {
    const std::string argument = argv[index];
    const bool hasValue = index + 1 < argc;
    if (argument == "--") {
      ++index;
      break;
    }
    if (argument == "--title" && hasValue) {
      options.title = argv[++index];
    } else if (argument == "--every" && hasValue) {
      options.every = std::chrono::milliseconds(std::stoll(argv[++index]));
    } else if (argument == "--timeout" && hasValue) {
      options.timeout =
          std::chrono::milliseconds(static_cast<long long>(std::stod(argv[++index]) * 1000.0));
    } else {
      return std::nullopt;
    }
  }
  options.program.assign(argv + index, argv + argc);
  if (options.program.empty()) {
    return std::nullopt;
  }
  return options;
}

// Waits up to `left` for X events or the child's end; true when the child ended.
bool Wait(const X11Client& x11, const SpawnedChild& child, std::chrono::milliseconds left) {
  std::array<pollfd, 2> fds{{{x11.Fd(), POLLIN, 0}, {child.EndFd(), POLLIN, 0}}};
  poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, left.count())));
  return (fds[1].revents & POLLIN) != 0;
}

std::chrono::milliseconds Left(Clock::time_point deadline) {
  return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
}

int Run(const Options& options) {
  X11Client x11;
  if (!x11.IsOpen()) {
    std::cerr << "ping_bench: cannot open the display\n";
    return 1;
  }

  SpawnedChild child(options.program);
  const Clock::time_point deadline = Clock::now() + options.timeout;
  bool ended = false;
  std::optional<XWindow> window;
  // The window manager lists the window on the root window once it manages it.
  while (!(window = x11.FindWindow(options.title, child.Pid())) && !ended &&
         Clock::now() < deadline) {
    ended = Wait(x11, child, Left(deadline));
    x11.HandleEvents();
  }
  if (!window) {
    std::cerr << "ping_bench: the window never showed\n";
    return 1;
  }

  std::vector<double> answers;
  int unanswered = 0;
  while (!x11.Gone(*window) && !ended && Clock::now() < deadline) {
    const Clock::time_point sent = Clock::now();
    const long stamp = x11.SendPing(*window);
    // Events first, then the socket: sending flushes, and Xlib may read an early answer
    // into its queue then, where no poll() of the socket would ever see it.
    x11.HandleEvents();
    while (!x11.Answered(stamp) && !x11.Gone(*window) && !ended && Clock::now() < deadline) {
      ended = Wait(x11, child, Left(deadline));
      x11.HandleEvents();
    }
    if (!x11.Answered(stamp)) {
      ++unanswered;
      break;
    }
    answers.push_back(std::chrono::duration<double>(Clock::now() - sent).count());
    const Clock::time_point next = Clock::now() + options.every;
    while (!x11.Gone(*window) && !ended && Clock::now() < next) {
      ended = Wait(x11, child, Left(next));
      x11.HandleEvents();
    }
  }
  if (!ended && Clock::now() >= deadline) {
    std::cerr << "ping_bench: the program outlived the time-out\n";
    return 1;
  }
  child.Reap();

  std::sort(answers.begin(), answers.end());
  const double longest = answers.empty() ? 0.0 : answers.back();
  const double median = answers.empty() ? 0.0 : answers[answers.size() / 2];
  std::printf("pings=%zu longest_ping_s=%.6f median_ping_s=%.6f unanswered=%d\n", answers.size(),
              longest, median, unanswered);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::cerr << "usage: ping_bench [--title TEXT] [--every MS] [--timeout SECONDS] -- PROGRAM "
                 "[ARGUMENT...]\n";
    return 2;
  }
  try {
    return Run(*options);
  } catch (const std::exception& error) {
    std::cerr << "ping_bench: " << error.what() << '\n';
    return 1;
  }
}
