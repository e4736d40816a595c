#include "catalogue/SelectPackage.h"

#include <algorithm>
#include <utility>

#include "catalogue/PackageHostName.h"

namespace korvani::catalogue {

namespace {

constexpr std::string_view kFallbackLanguage = "en";

const CataloguePackage* Find(std::string_view osFamily, std::string_view language) {
  const std::span<const CataloguePackage> packages = CataloguePackages();
  const auto found = std::find_if(packages.begin(), packages.end(), [&](const auto& package) {
    return package.family == osFamily && package.language == language;
  });
  return found == packages.end() ? nullptr : &*found;
}

}  // namespace

PackageChoice SelectPackage(const std::string& osFamily, const std::string& language,
                            const std::string& packageHost) {
  // An unlisted code never reaches the URL: the host only serves the listed packages.
  const CataloguePackage* package = Find(osFamily, language);
  if (package == nullptr) {
    package = Find(osFamily, kFallbackLanguage);
  }
  if (package == nullptr) {
    return {};
  }
  std::string url(PackageScheme());
  url += "://";
  url += packageHost;
  url += "/downloads/";
  url += package->fileName;
  return {std::move(url), static_cast<float>(package->kilobytes), package->sha256};
}

PackageChoice SelectPackage(const std::string& osFamily, const std::string& language) {
  return SelectPackage(osFamily, language, PackageHostName());
}

}  // namespace korvani::catalogue
