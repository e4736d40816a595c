#include "ProcessMemory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace korvani::bench {

std::optional<ProcessMemory> ReadProcessMemory() {
  std::ifstream status("/proc/self/status");
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

}  // namespace korvani::bench
