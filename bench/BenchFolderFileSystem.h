#pragma once

#include <filesystem>

#include "platform/LocalFileSystem.h"

namespace korvani::bench {

// The local file system with a folder of the benchmark's choosing standing in for
// the program's own folder, so that a fetch saves where the benchmark looks.
class BenchFolderFileSystem final : public platform::FileSystem {
 public:
  explicit BenchFolderFileSystem(std::filesystem::path programFolder)
      : programFolder_(std::move(programFolder)) {}

  std::filesystem::path ProgramFolder() const override { return programFolder_; }
  bool HoldsOrdinaryFile(const std::filesystem::path& folder) const override;
  bool ReplaceFile(const std::filesystem::path& destination,
                   std::span<const std::byte> body) override;

 private:
  std::filesystem::path programFolder_;
  platform::LocalFileSystem local_;
};

}  // namespace korvani::bench
