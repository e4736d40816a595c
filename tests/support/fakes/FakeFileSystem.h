#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

#include "platform/FileSystem.h"
#include "support/fakes/EventLog.h"

namespace korvani::fakes {

// A file system that touches no disk. Logs "list <folder>" for every listing
// and "save <path> <n> bytes" for every ReplaceFile, failed ones included.
class FakeFileSystem : public platform::FileSystem {
 public:
  struct Save {
    std::filesystem::path destination;
    std::vector<std::byte> body;
  };

  explicit FakeFileSystem(EventLog& log) : log_(log) {}

  // The program's folder; "/opt/korvani" unless set.
  std::filesystem::path programFolder{"/opt/korvani"};
  // What HoldsOrdinaryFile answers, whatever folder it is asked about.
  bool holdsOrdinaryFile = true;
  // When true, ReplaceFile reports failure (and records nothing in Saves()).
  bool saveFails = false;

  std::filesystem::path ProgramFolder() const override { return programFolder; }
  bool HoldsOrdinaryFile(const std::filesystem::path& folder) const override;
  bool ReplaceFile(const std::filesystem::path& destination,
                   std::span<const std::byte> body) override;

  // The files that were saved, in order.
  const std::vector<Save>& Saves() const { return saves_; }

 private:
  EventLog& log_;
  std::vector<Save> saves_;
};

}  // namespace korvani::fakes
