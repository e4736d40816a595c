#include "catalogue/SelectPackage.h"

#include <algorithm>
#include <array>
#include <utility>

#include "catalogue/PackageHostName.h"

namespace korvani::catalogue {

namespace {

constexpr std::string_view kFallbackLanguage = "en";

constexpr std::array<CataloguePackage, 14> kPackages = {{
    {"xp", "de", "RUD_UZ7_de.exe", 883},
    {"xp", "en", "RUD_UZ7_en.exe", 793},
    {"xp", "es", "RUD_UZ7_es.exe", 851},
    {"xp", "fr", "RUD_UZ7_fr.exe", 848},
    {"xp", "it", "RUD_UZ7_it.exe", 841},
    {"xp", "jp", "RUD_UZ7_jp.exe", 852},
    {"xp", "nl", "RUD_UZ7_nl.exe", 804},
    {"9x", "de", "VUD_de_win98.exe", 778},
    {"9x", "en", "VUD_en_win98.exe", 690},
    {"9x", "es", "VUD_es_win98.exe", 746},
    {"9x", "fr", "VUD_fr_win98.exe", 753},
    {"9x", "it", "VUD_it_win98.exe", 748},
    {"9x", "jp", "VUD_jp_win98.exe", 756},
    {"9x", "nl", "VUD_nl_win98.exe", 712},
}};

const CataloguePackage* Find(std::string_view osFamily, std::string_view language) {
  const auto found = std::find_if(kPackages.begin(), kPackages.end(), [&](const auto& package) {
    return package.family == osFamily && package.language == language;
  });
  return found == kPackages.end() ? nullptr : &*found;
}

}  // namespace

std::span<const CataloguePackage> CataloguePackages() {
  return kPackages;
}

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
  std::string url = "http://";
  url += packageHost;
  url += "/downloads/";
  url += package->fileName;
  return {std::move(url), static_cast<float>(package->kilobytes)};
}

PackageChoice SelectPackage(const std::string& osFamily, const std::string& language) {
  return SelectPackage(osFamily, language, PackageHostName());
}

}  // namespace korvani::catalogue
