#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvani::catalogue {

// One package the catalogue lists: the file served under /downloads/ on the package host.
struct CataloguePackage {
  std::string_view family;    // "xp", "9x"
  std::string_view language;  // "de", "en", ...
  std::string_view fileName;
  int kilobytes;  // of 1024 bytes
};

// Every package the catalogue lists, "xp" first, each family in language order. The
// package host serves these; the tests take names and sizes from here.
std::span<const CataloguePackage> CataloguePackages();

struct PackageChoice {
  std::string url;                         // empty when the OS family is not listed
  std::optional<float> expectedKilobytes;  // present exactly when the family is listed

  bool operator==(const PackageChoice&) const = default;
};

// The package for an OS family ("xp", "9x") and a language code, on `packageHost`.
// Codes are compared whole and case-sensitively; an unlisted language falls back
// to "en", an unlisted family gives an empty choice.
PackageChoice SelectPackage(const std::string& osFamily, const std::string& language,
                            const std::string& packageHost);
// The same on the host PackageHostName() names.
PackageChoice SelectPackage(const std::string& osFamily, const std::string& language);

}  // namespace korvani::catalogue
