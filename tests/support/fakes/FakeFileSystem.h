#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"
#include "support/fakes/EventLog.h"

namespace korvani::fakes {

// A file system that touches no disk. Logs "list <folder>" for every listing,
// "begin <path>" for every replacement begun (failed ones included), "write <n>" for
// every append, "save <path> <n> bytes" for every commit (failed ones included) and
// "abandon <path>" for every replacement dropped uncommitted.
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
  // When true, BeginReplacement returns null, as for a read-only folder.
  bool beginFails = false;
  // When set, the append that would take a replacement beyond this many bytes fails,
  // as on a full disk.
  std::optional<std::uint64_t> room;
  // When true, Commit reports failure (and records nothing in Saves()).
  bool saveFails = false;

  std::filesystem::path ProgramFolder() const override { return programFolder; }
  bool HoldsOrdinaryFile(const std::filesystem::path& folder) const override;
  std::unique_ptr<platform::Replacement> BeginReplacement(
      const std::filesystem::path& destination) override;

  // The files that were saved, in order.
  const std::vector<Save>& Saves() const { return saves_; }

 private:
  class FakeReplacement;

  EventLog& log_;
  std::vector<Save> saves_;
};

}  // namespace korvani::fakes
