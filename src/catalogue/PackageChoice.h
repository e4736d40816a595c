#pragma once

#include <optional>
#include <string>

namespace korvani::catalogue {

struct PackageChoice {
  std::string url;  // empty when the OS family is not listed
  std::optional<float> expectedKilobytes;  // present exactly when the family is listed

  bool operator==(const PackageChoice&) const = default;
};

}  // namespace korvani::catalogue
