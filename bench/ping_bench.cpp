// ping_bench [--title TEXT] [--every MS] [--timeout SECONDS] -- PROGRAM [ARGUMENT...]
//
// Starts PROGRAM, finds its own top-level window titled TEXT (default "Setup - Korvani")
// on $DISPLAY and, for as long as that window shows, pings it as a window manager
// does (_NET_WM_PING): each ping MS milliseconds (default 100) after the previous
// one was answered. Prints on one line
//   pings=N longest_ping_s=... median_ping_s=... unanswered=K
// where an unanswered ping is one the window went away without answering. Exits 1
// when the window never showed or PROGRAM outlived the time-out (default 60 s).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
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

#include "ChildProcess.h"

namespace {

using korvani::bench::ChildProcess;
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

// A window that goes between two requests makes them fail; that is expected here.
int IgnoreErrors(Display* /*display*/, XErrorEvent* /*error*/) {
  return 0;
}

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

struct XFreer {
  void operator()(unsigned char* data) const { XFree(data); }
};

// A window property as the server holds it: `count` items of `format` bits.
struct Property {
  std::unique_ptr<unsigned char, XFreer> data;
  int format = 0;
  unsigned long count = 0;
};

// Up to `length` items of `window`'s `name` of `type`; no data when there is none.
Property ReadProperty(Display* display, Window window, Atom name, Atom type, long length) {
  Property property;
  Atom actualType = None;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(display, window, name, 0, length, False, type, &actualType,
                         &property.format, &property.count, &after, &raw) == Success) {
    property.data.reset(raw);
  }
  return property;
}

class Pinger {
 public:
  explicit Pinger(Display* display)
      : display_(display),
        root_(DefaultRootWindow(display)),
        protocols_(XInternAtom(display, "WM_PROTOCOLS", False)),
        ping_(XInternAtom(display, "_NET_WM_PING", False)),
        clientList_(XInternAtom(display, "_NET_CLIENT_LIST", False)),
        name_(XInternAtom(display, "_NET_WM_NAME", False)),
        utf8_(XInternAtom(display, "UTF8_STRING", False)),
        pid_(XInternAtom(display, "_NET_WM_PID", False)) {
    // Answers go to the root window, to clients that listen for its structure.
    XSelectInput(display_, root_, StructureNotifyMask);
  }

  // The managed window of process `pid` titled `title`, if there is one now.
  std::optional<Window> FindTitled(const std::string& title, pid_t pid) {
    for (const Window window : Clients()) {
      if (Pid(window) == pid && Title(window) == title) {
        XSelectInput(display_, window, StructureNotifyMask);
        XSync(display_, False);
        target_ = window;
        return window;
      }
    }
    return std::nullopt;
  }

  void SendPing() {
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = target_;
    ping.xclient.message_type = protocols_;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = static_cast<long>(ping_);
    ping.xclient.data.l[1] = ++stamp_;
    ping.xclient.data.l[2] = static_cast<long>(target_);
    XSendEvent(display_, target_, False, NoEventMask, &ping);
    XFlush(display_);
    answered_ = false;
  }

  // Handles every event that has arrived.
  void HandleEvents() {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == ClientMessage && event.xclient.window == root_ &&
          event.xclient.message_type == protocols_ &&
          event.xclient.data.l[0] == static_cast<long>(ping_) &&
          event.xclient.data.l[1] == stamp_ &&
          event.xclient.data.l[2] == static_cast<long>(target_)) {
        answered_ = true;
      } else if ((event.type == UnmapNotify && event.xunmap.window == target_) ||
                 (event.type == DestroyNotify && event.xdestroywindow.window == target_)) {
        gone_ = true;
      }
    }
  }

  int Fd() const { return ConnectionNumber(display_); }
  bool Queued() const { return XEventsQueued(display_, QueuedAlready) > 0; }
  bool Answered() const { return answered_; }
  bool Gone() const { return gone_; }

 private:
  std::vector<Window> Clients() {
    const Property list = ReadProperty(display_, root_, clientList_, XA_WINDOW, 4096);
    if (!list.data || list.format != 32) {
      return {};
    }
    const auto* windows = reinterpret_cast<const Window*>(list.data.get());
    return {windows, windows + list.count};
  }

  // The process that owns `window`, as the window says; 0 when it does not.
  pid_t Pid(Window window) {
    const Property pid = ReadProperty(display_, window, pid_, XA_CARDINAL, 1);
    // Xlib hands 32-bit items over as longs.
    return pid.data && pid.format == 32 && pid.count == 1
               ? static_cast<pid_t>(*reinterpret_cast<const long*>(pid.data.get()))
               : 0;
  }

  std::string Title(Window window) {
    const Property title = ReadProperty(display_, window, name_, utf8_, 1024);
    return title.data ? std::string(reinterpret_cast<const char*>(title.data.get()), title.count)
                      : std::string();
  }

  Display* display_;
  Window root_;
  Atom protocols_;
  Atom ping_;
  Atom clientList_;
  Atom name_;
  Atom utf8_;
  Atom pid_;
  Window target_ = None;
  long stamp_ = 0;
  bool answered_ = false;
  bool gone_ = false;
};

// Waits up to `left` for X events or the child's end; true when the child ended.
bool Wait(const Pinger& pinger, const ChildProcess& child, std::chrono::milliseconds left) {
  if (pinger.Queued()) {
    left = std::chrono::milliseconds(0);
  }
  std::array<pollfd, 2> fds{{{pinger.Fd(), POLLIN, 0}, {child.EndFd(), POLLIN, 0}}};
  poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, left.count())));
  return (fds[1].revents & POLLIN) != 0;
}

std::chrono::milliseconds Left(Clock::time_point deadline) {
  return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
}

int Run(const Options& options) {
  const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  if (!display) {
    std::cerr << "ping_bench: cannot open the display\n";
    return 1;
  }
  XSetErrorHandler(IgnoreErrors);
  Pinger pinger(display.get());
  XSync(display.get(), False);

  ChildProcess child(options.program);
  const Clock::time_point deadline = Clock::now() + options.timeout;
  bool ended = false;
  std::optional<Window> window;
  while (!(window = pinger.FindTitled(options.title, child.Pid())) && !ended &&
         Clock::now() < deadline) {
    ended = Wait(pinger, child, std::chrono::milliseconds(20));
    pinger.HandleEvents();
  }
  if (!window) {
    std::cerr << "ping_bench: the window never showed\n";
    return 1;
  }

  std::vector<double> answers;
  int unanswered = 0;
  while (!pinger.Gone() && !ended && Clock::now() < deadline) {
    const Clock::time_point sent = Clock::now();
    pinger.SendPing();
    while (!pinger.Answered() && !pinger.Gone() && !ended && Clock::now() < deadline) {
      ended = Wait(pinger, child, Left(deadline));
      pinger.HandleEvents();
    }
    if (!pinger.Answered()) {
      ++unanswered;
      break;
    }
    answers.push_back(std::chrono::duration<double>(Clock::now() - sent).count());
    const Clock::time_point next = Clock::now() + options.every;
    while (!pinger.Gone() && !ended && Clock::now() < next) {
      ended = Wait(pinger, child, Left(next));
      pinger.HandleEvents();
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
