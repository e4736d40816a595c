#pragma once

#include <optional>

#include "platform/FileSystem.h"

namespace korvani::platform {

// The local POSIX file system.
class LocalFileSystem final : public FileSystem {
 public:
  // How a replacement keeps its bytes until it is committed.
  enum class Temporaries {
    // An unnamed file in the destination's folder (O_TMPFILE), which vanishes with the
    // process however it ends; a hidden, named one where the file system refuses that.
    UnnamedWhereSupported,
    // Always the hidden, named file, as on a file system without unnamed files.
    NamedOnly,
  };

  // The program's folder is the folder of /proc/self/exe.
  LocalFileSystem() = default;
  // The program's folder is `programFolder`: a run that saves elsewhere, as the
  // benchmarks and the end-to-end tests do.
  explicit LocalFileSystem(std::filesystem::path programFolder,
                           Temporaries temporaries = Temporaries::UnnamedWhereSupported)
      : programFolder_(std::move(programFolder)), temporaries_(temporaries) {}

  // An empty path when /proc/self/exe cannot be read.
  std::filesystem::path ProgramFolder() const override;
  // Hidden means a name that starts with "."; links are judged by what they point to.
  bool HoldsOrdinaryFile(const std::filesystem::path& folder) const override;
  // The new file gets the permissions any new file of the user gets, where the file
  // system keeps permissions at all. Its data reaches the disk before it is renamed over
  // `destination`, and the rename reaches the disk before Commit() returns.
  std::unique_ptr<Replacement> BeginReplacement(const std::filesystem::path& destination) override;

 private:
  std::optional<std::filesystem::path> programFolder_;
  Temporaries temporaries_ = Temporaries::UnnamedWhereSupported;
};

}  // namespace korvani::platform
