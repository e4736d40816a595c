#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace korvani::packagehost {

// One package the program can ask for, with the size the program expects of it.
struct PlaceholderPackage {
  std::string_view name;
  std::size_t kilobytes;  // of 1024 bytes

  std::size_t bytes() const { return kilobytes * 1024; }
};

// The fourteen packages of the catalogue, "xp" first, each family in language order.
std::span<const PlaceholderPackage> PlaceholderCatalogue();

}  // namespace korvani::packagehost
