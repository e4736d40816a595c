#pragma once

#include "platform/FileSystem.h"

namespace korvani::platform {

// The local POSIX file system.
class LocalFileSystem final : public FileSystem {
 public:
  // The folder of /proc/self/exe; an empty path when it cannot be read.
  std::filesystem::path ProgramFolder() const override;
  // Hidden means a name that starts with "."; links are judged by what they point to.
  bool HoldsOrdinaryFile(const std::filesystem::path& folder) const override;
  // A hidden temporary file beside `destination`, with the permissions a newly created
  // file would get, is written, synced and renamed over it; then the folder is synced.
  bool ReplaceFile(const std::filesystem::path& destination,
                   std::span<const std::byte> body) override;
};

}  // namespace korvani::platform
