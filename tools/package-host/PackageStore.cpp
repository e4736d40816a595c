#include "PackageStore.h"

#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "GeneratedContent.h"

namespace korvani::packagehost {
namespace {

PackageStore::Bytes ReadWholeFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return nullptr;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return nullptr;
  }
  auto bytes = std::make_shared<std::string>(std::istreambuf_iterator<char>(file),
                                             std::istreambuf_iterator<char>());
  if (file.bad()) {
    return nullptr;
  }
  return bytes;
}

}  // namespace

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

void PackageStore::AddGenerated(const std::string& name, std::size_t size) {
  generated_[name] = std::make_shared<const std::string>(GeneratedContent(name, size));
}

PackageStore::Bytes PackageStore::Find(const std::string& name) const {
  if (!IsPlainFileName(name)) {
    return nullptr;
  }
  if (const auto found = generated_.find(name); found != generated_.end()) {
    return found->second;
  }
  if (folder_.empty()) {
    return nullptr;
  }
  return ReadWholeFile(folder_ / name);
}

std::vector<std::string> PackageStore::Names() const {
  std::set<std::string> names;
  for (const auto& [name, bytes] : generated_) {
    names.insert(name);
  }
  std::error_code error;
  if (!folder_.empty()) {
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
      const std::string name = entry.path().filename().string();
      if (IsPlainFileName(name) && entry.is_regular_file(error)) {
        names.insert(name);
      }
    }
  }
  return {names.begin(), names.end()};
}

}  // namespace korvani::packagehost
