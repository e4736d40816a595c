#include "support/fakes/FakeFileSystem.h"

#include <string>

namespace korvani::fakes {

class FakeFileSystem::FakeReplacement final : public platform::Replacement {
 public:
  FakeReplacement(FakeFileSystem& files, std::filesystem::path destination)
      : files_(files), save_{std::move(destination), {}} {}
  FakeReplacement(const FakeReplacement&) = delete;
  FakeReplacement& operator=(const FakeReplacement&) = delete;
  ~FakeReplacement() override {
    if (!committed_) {
      files_.log_.Add("abandon " + save_.destination.string());
    }
  }

  bool Append(std::span<const std::byte> bytes) override {
    files_.log_.Add("write " + std::to_string(bytes.size()));
    if (files_.room && save_.body.size() + bytes.size() > *files_.room) {
      return false;
    }
    save_.body.insert(save_.body.end(), bytes.begin(), bytes.end());
    return true;
  }

  bool Commit() override {
    files_.log_.Add("save " + save_.destination.string() + " " + std::to_string(save_.body.size()) +
                    " bytes");
    if (files_.saveFails) {
      return false;
    }
    committed_ = true;
    files_.saves_.push_back(save_);
    return true;
  }

 private:
  FakeFileSystem& files_;
  Save save_;
  bool committed_ = false;
};

bool FakeFileSystem::HoldsOrdinaryFile(const std::filesystem::path& folder) const {
  log_.Add("list " + folder.string());
  return holdsOrdinaryFile;
}

std::unique_ptr<platform::Replacement> FakeFileSystem::BeginReplacement(
    const std::filesystem::path& destination) {
  log_.Add("begin " + destination.string());
  if (beginFails) {
    return nullptr;
  }
  return std::make_unique<FakeReplacement>(*this, destination);
}

}  // namespace korvani::fakes
