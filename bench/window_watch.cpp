// window_watch [--title TEXT] [--folder DIR] [--stop-when-painted] [--timeout SECONDS]
//              -- PROGRAM [ARGUMENT...]
//
// Starts PROGRAM and times, from outside and without any help from it, what it does
// on the X display ($DISPLAY) and on disk. Every time is in seconds from the moment
// just before PROGRAM was started:
//   exposed_s  its top-level window titled TEXT (default "Setup - Korvani") was exposed
//   drawn_s    the first drawing into that window after that (DAMAGE extension)
//   painted_s  every pixel of that window had been drawn since it was exposed; later
//              than drawn_s when the first paint covered only part of it, or when
//              another window hid part of it
//   file_s     a file arrived in DIR by rename (the end of an atomic save)
//   gone_s     the window was unmapped or destroyed, after it had been painted
//   exit_s     the process ended
// and cpu_painted_s, cpu_file_s, cpu_gone_s are the CPU time the process had used by
// those moments (all its threads); user_s and sys_s its CPU time in all, from wait4.
// With --stop-when-painted, the program gets SIGTERM once the window is painted.
// Prints them on one line, "-" for what did not happen; exits 1 when the window was
// never painted or PROGRAM outlived the time-out (default 60 s; it is then killed).

#include <poll.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FolderArrivals.h"
#include "TitledWindowWatch.h"
#include "support/SpawnedChild.h"

namespace {

using korvani::bench::FolderArrivals;
using korvani::bench::TitledWindowWatch;
using korvani::support::ChildEnding;
using korvani::support::SpawnedChild;
using Time = std::chrono::steady_clock::time_point;

struct Options {
  std::string title = "Setup - Korvani";
  std::string folder;
  bool stopWhenPainted = false;
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
    } else if (argument == "--folder" && hasValue) {
      options.folder = argv[++index];
    } else if (argument == "--timeout" && hasValue) {
      options.timeout =
          std::chrono::milliseconds(static_cast<long long>(std::stod(argv[++index]) * 1000.0));
    } else if (argument == "--stop-when-painted") {
      options.stopWhenPainted = true;
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

// What was seen, with the process's CPU time at each moment.
struct Observation {
  std::optional<Time> file;
  std::optional<Time> exit;
  std::optional<double> cpuPainted;
  std::optional<double> cpuFile;
  std::optional<double> cpuGone;
  bool timedOut = false;
};

std::string Figure(const std::optional<double>& value) {
  if (!value) {
    return "-";
  }
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.6f", *value);
  return text.data();
}

std::optional<double> SecondsSince(Time start, const std::optional<Time>& moment) {
  if (!moment) {
    return std::nullopt;
  }
  return std::chrono::duration<double>(*moment - start).count();
}

std::string Ending(int waitStatus) {
  if (WIFEXITED(waitStatus)) {
    return "exit:" + std::to_string(WEXITSTATUS(waitStatus));
  }
  if (WIFSIGNALED(waitStatus)) {
    return "signal:" + std::to_string(WTERMSIG(waitStatus));
  }
  return "unknown";
}

Observation Follow(const Options& options, TitledWindowWatch& window, FolderArrivals* folder,
                   SpawnedChild& child, Time start) {
  Observation seen;
  const Time deadline = start + options.timeout;
  for (;;) {
    std::vector<pollfd> watched{{window.Fd(), POLLIN, 0}, {child.EndFd(), POLLIN, 0}};
    if (folder != nullptr) {
      watched.push_back({folder->Fd(), POLLIN, 0});
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    poll(watched.data(), watched.size(), static_cast<int>(std::max<long long>(0, left.count())));
    const Time now = std::chrono::steady_clock::now();

    const bool wasPainted = window.Painted().has_value();
    const bool wasGone = window.Gone().has_value();
    window.HandleEvents(now);
    if (!wasPainted && window.Painted()) {
      seen.cpuPainted = child.CpuSeconds();
      if (options.stopWhenPainted) {
        child.Signal(SIGTERM);
      }
    }
    if (!wasGone && window.Gone()) {
      seen.cpuGone = child.CpuSeconds();
    }
    if (folder != nullptr && folder->TakeArrival() && !seen.file) {
      seen.file = now;
      seen.cpuFile = child.CpuSeconds();
    }
    if ((watched[1].revents & POLLIN) != 0) {
      seen.exit = now;
      return seen;
    }
    if (now >= deadline) {
      seen.timedOut = true;
      child.Signal(SIGKILL);
      return seen;
    }
  }
}

int Run(const Options& options) {
  TitledWindowWatch window(options.title);
  std::unique_ptr<FolderArrivals> folder;
  if (!options.folder.empty()) {
    folder = std::make_unique<FolderArrivals>(options.folder);
  }
  const Time start = std::chrono::steady_clock::now();
  SpawnedChild child(options.program);
  const Observation seen = Follow(options, window, folder.get(), child, start);
  const ChildEnding ending = child.Reap();

  std::printf(
      "exposed_s=%s drawn_s=%s painted_s=%s file_s=%s gone_s=%s exit_s=%s cpu_painted_s=%s "
      "cpu_file_s=%s "
      "cpu_gone_s=%s user_s=%.6f sys_s=%.6f ending=%s\n",
      Figure(SecondsSince(start, window.Exposed())).c_str(),
      Figure(SecondsSince(start, window.FirstDrawn())).c_str(),
      Figure(SecondsSince(start, window.Painted())).c_str(),
      Figure(SecondsSince(start, seen.file)).c_str(),
      Figure(SecondsSince(start, window.Gone())).c_str(),
      Figure(SecondsSince(start, seen.exit)).c_str(), Figure(seen.cpuPainted).c_str(),
      Figure(seen.cpuFile).c_str(), Figure(seen.cpuGone).c_str(), ending.userSeconds,
      ending.systemSeconds, Ending(ending.waitStatus).c_str());
  if (seen.timedOut) {
    std::cerr << "window_watch: " << options.program[0] << " was still running after "
              << options.timeout.count() << " ms\n";
    return 1;
  }
  if (!window.Painted()) {
    std::cerr << "window_watch: no window titled \"" << options.title << "\" was painted\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::cerr << "usage: window_watch [--title TEXT] [--folder DIR] [--stop-when-painted] "
                 "[--timeout SECONDS] -- PROGRAM [ARGUMENT...]\n";
    return 2;
  }
  try {
    return Run(*options);
  } catch (const std::exception& error) {
    std::cerr << "window_watch: " << error.what() << '\n';
    return 1;
  }
}
