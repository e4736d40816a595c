#include "ProcessMemory.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace korvani::bench {

std::optional<ProcessMemory> ReadProcessMemory(const char* process) {
  std::ifstream status(std::string("/proc/") + process + "/status");
  std::optional<std::uint64_t> resident;
  std::optional<std::uint64_t> peak;
  std::string line;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string key;
    std::uint64_t kib = 0;
    if (!(fields >> key >> kib)) {
      continue;
    }
    if (key == "VmRSS:") {
      resident = kib;
    } else if (key == "VmHWM:") {
      peak = kib;
    }
  }
  if (!resident || !peak) {
    return std::nullopt;
  }
  return ProcessMemory{*resident, *peak};
}

std::optional<int> OnlyChild() {
  const std::string self = std::to_string(::getpid());
  std::ifstream children("/proc/self/task/" + self + "/children");
  int child = 0;
  int another = 0;
  if (!(children >> child) || (children >> another)) {
    return std::nullopt;
  }
  return child;
}

}  // namespace korvani::bench
