#pragma once

#include <cstdint>
#include <optional>

namespace korvani::bench {

// This process's memory as the kernel counts it, in KiB.
struct ProcessMemory {
  std::uint64_t residentKib = 0;      // VmRSS: resident now
  std::uint64_t peakResidentKib = 0;  // VmHWM: the most resident at any time so far
};

// Nothing when /proc/PROCESS/status cannot be read or lacks either line.
std::optional<ProcessMemory> ReadProcessMemory(const char* process = "self");

// The one child this process has, or nothing.
std::optional<int> OnlyChild();

}  // namespace korvani::bench
