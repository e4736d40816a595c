#pragma once

#include <optional>

#include "platform/FileSystem.h"

namespace korvani::platform {

// The local POSIX file system.
class LocalFileSystem final : public FileSystem {
 public:
  // The program's folder is the folder of /proc/self/exe.
  LocalFileSystem() = default;
  // The program's folder is `programFolder`: a run that saves elsewhere, as the
  // benchmarks and the end-to-end tests do.
  explicit LocalFileSystem(std::filesystem::path programFolder)
      : programFolder_(std::move(programFolder)) {}

  // An empty path when /proc/self/exe cannot be read.
  std::filesystem::path ProgramFolder() const override;
  // Hidden means a name that starts with "."; links are judged by what they point to.
  bool HoldsOrdinaryFile(const std::filesystem::path& folder) const override;
  // A hidden temporary file beside `destination`, with the permissions a newly created
  // file would get, is written, synced and renamed over it; then the folder is synced.
  bool ReplaceFile(const std::filesystem::path& destination,
                   std::span<const std::byte> body) override;

 private:
  std::optional<std::filesystem::path> programFolder_;
};

}  // namespace korvani::platform
