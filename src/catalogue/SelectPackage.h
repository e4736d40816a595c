#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "catalogue/Sha256Digest.h"

namespace korvani::catalogue {

// One package the catalogue lists: the file served under /downloads/ on the package host.
struct CataloguePackage {
  std::string_view family;    // "xp", "9x"
  std::string_view language;  // "de", "en", ...
  std::string_view fileName;
  int kilobytes;  // of 1024 bytes
  // The SHA-256 of the package as its packager published it; none when the build pins
  // none for it.
  std::optional<Sha256Digest> sha256;
};

// Every package the catalogue lists, "xp" first, each family in language order. The
// package host serves these; the tests take names and sizes from here. Made at configure
// time from Packages.txt and the packager's sums, in a library of its own that each
// program links by name: the configured table, or a variant's.
std::span<const CataloguePackage> CataloguePackages();
// How the package host is reached: "http" or "https", as the build was configured.
std::string_view PackageScheme();

struct PackageChoice {
  std::string url;                         // empty when the OS family is not listed
  std::optional<float> expectedKilobytes;  // present exactly when the family is listed
  // The SHA-256 the package must have; absent when it is not pinned.
  std::optional<Sha256Digest> sha256;

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
