// What confining a process costs: the rules made for the program as start-up makes them
// (its interpreter read from its file) and applied with Landlock, in a fresh child each
// time, as each run of the program confines itself once.
//   confine_bench RUNS   prints "runs=N abi=A median_us=M slowest_us=S"
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/Confinement.h"
#include "platform/UniqueFd.h"

namespace {

// Confines a fresh child and returns how long that took, in microseconds; -1 on failure.
double TimeOneConfinement(const std::filesystem::path& program) {
  int ends[2];
  if (::pipe(ends) != 0) {
    return -1;
  }
  korvani::platform::UniqueFd reading(ends[0]);
  korvani::platform::UniqueFd writing(ends[1]);
  const pid_t child = ::fork();
  if (child == 0) {
    const auto started = std::chrono::steady_clock::now();
    const auto abi = korvani::platform::Confine(
        korvani::platform::WindowRulesFor({.programFile = program,
                                           .interpreter = korvani::platform::InterpreterOf(program),
                                           .scheme = "http",
                                           .packagePort = 8080,
                                           .display = ":0",
                                           .runtimeFolder = {},
                                           .certificates = {}}));
    const double micros =
        abi ? std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started)
                  .count()
            : -1;
    [[maybe_unused]] const ssize_t written = ::write(writing.Get(), &micros, sizeof micros);
    ::_exit(0);
  }
  writing.Close();
  double micros = -1;
  if (::read(reading.Get(), &micros, sizeof micros) != sizeof micros) {
    micros = -1;
  }
  ::waitpid(child, nullptr, 0);
  return micros;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (runs <= 0 || error) {
    std::fprintf(stderr, "usage: confine_bench RUNS\n");
    return 2;
  }
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double micros = TimeOneConfinement(program);
    if (micros < 0) {
      std::fprintf(stderr, "confine_bench: the kernel does not confine (Landlock ABI %d)\n",
                   korvani::platform::LandlockAbi());
      return 1;
    }
    times.push_back(micros);
  }
  std::sort(times.begin(), times.end());
  std::printf("runs=%d abi=%d median_us=%.1f slowest_us=%.1f\n", runs,
              korvani::platform::LandlockAbi(), times[times.size() / 2], times.back());
  return 0;
}
