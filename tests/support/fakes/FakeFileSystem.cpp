#include "support/fakes/FakeFileSystem.h"

namespace korvani::fakes {

bool FakeFileSystem::HoldsOrdinaryFile(const std::filesystem::path& folder) const {
  log_.Add("list " + folder.string());
  return holdsOrdinaryFile;
}

bool FakeFileSystem::ReplaceFile(const std::filesystem::path& destination,
                                 std::span<const std::byte> body) {
  log_.Add("save " + destination.string() + " " + std::to_string(body.size()) + " bytes");
  if (saveFails) {
    return false;
  }
  saves_.push_back({destination, {body.begin(), body.end()}});
  return true;
}

}  // namespace korvani::fakes
