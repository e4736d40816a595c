#pragma once

#include <cstddef>
#include <filesystem>
#include <span>

namespace korvani::platform {

// The few file operations the fetch needs.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The folder that holds the running program (not the working directory).
  virtual std::filesystem::path ProgramFolder() const = 0;
  // True when `folder` is a folder that holds at least one ordinary file
  // (not a folder, not hidden).
  virtual bool HoldsOrdinaryFile(const std::filesystem::path& folder) const = 0;
  // Replaces `destination` whole with `body`: the bytes go to a temporary file
  // beside it, reach the disk, and are renamed over it. On failure returns
  // false, leaves `destination` as it was and leaves no temporary file.
  virtual bool ReplaceFile(const std::filesystem::path& destination,
                           std::span<const std::byte> body) = 0;
};

}  // namespace korvani::platform
