#pragma once

#include <filesystem>

#include "platform/UniqueFd.h"

namespace korvani::bench {

// Notices a file being renamed into a folder, the last step of an atomic save.
// Hidden names (a leading ".") are a save's temporary files and do not count.
class FolderArrivals {
 public:
  // Throws when the folder cannot be watched.
  explicit FolderArrivals(const std::filesystem::path& folder);

  // Becomes readable when something happened in the folder.
  int Fd() const { return notify_.Get(); }
  // Reads what happened; true when a file arrived.
  bool TakeArrival();

 private:
  platform::UniqueFd notify_;
};

}  // namespace korvani::bench
