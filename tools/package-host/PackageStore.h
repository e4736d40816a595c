#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace korvani::packagehost {

// The files the host serves under /downloads/, by name.
class PackageStore {
 public:
  using Bytes = std::shared_ptr<const std::string>;

  // Serves the placeholder of `size` bytes under `name` (see GeneratedContent.h).
  void AddGenerated(const std::string& name, std::size_t size);
  // Serves the regular files of `folder`, read afresh on each request, so a test may
  // change them while the host runs. Generated files of the same name take precedence.
  void SetFolder(std::filesystem::path folder) { folder_ = std::move(folder); }

  // The bytes of `name`, or null when no file of that name is served. A name that could
  // reach outside the folder ("", ".", "..", or holding "/" or NUL) is never served.
  Bytes Find(const std::string& name) const;
  // The names Find() serves now, in order: the generated files and the folder's regular
  // files with plain names.
  std::vector<std::string> Names() const;

 private:
  std::map<std::string, Bytes, std::less<>> generated_;
  std::filesystem::path folder_;
};

// True when `name` can only mean a file directly inside a folder.
bool IsPlainFileName(const std::string& name);

}  // namespace korvani::packagehost
