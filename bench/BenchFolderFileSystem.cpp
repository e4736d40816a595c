#include "BenchFolderFileSystem.h"

namespace korvani::bench {

bool BenchFolderFileSystem::HoldsOrdinaryFile(const std::filesystem::path& folder) const {
  return local_.HoldsOrdinaryFile(folder);
}

bool BenchFolderFileSystem::ReplaceFile(const std::filesystem::path& destination,
                                        std::span<const std::byte> body) {
  return local_.ReplaceFile(destination, body);
}

}  // namespace korvani::bench
