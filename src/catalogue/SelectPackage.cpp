#include "catalogue/SelectPackage.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "catalogue/PackageHost.h"

namespace korvani::catalogue {

namespace {

constexpr std::size_t kLanguageCount = 7;

// The same codes, in the same order, for every family; the sizes below follow this order.
constexpr std::array<std::string_view, kLanguageCount> kLanguages = {"de", "en", "es", "fr",
                                                                     "it", "jp", "nl"};
constexpr std::string_view kFallbackLanguage = "en";

struct FamilyEntry {
  std::string_view code;
  std::string_view pathPrefix;  // between the host and the language code
  std::string_view pathSuffix;  // after the language code
  std::array<float, kLanguageCount> kilobytes;
  float fallbackKilobytes;  // the size of the fallback language's package
};

constexpr std::array<FamilyEntry, 2> kFamilies = {{
    {"xp", "/downloads/RUD_UZ7_", ".exe", {883, 793, 851, 848, 841, 852, 804}, 793},
    {"9x", "/downloads/VUD_", "_win98.exe", {778, 690, 746, 753, 748, 756, 712}, 690},
}};

const FamilyEntry* FindFamily(const std::string& osFamily) {
  for (const FamilyEntry& family : kFamilies) {
    if (osFamily == family.code) {
      return &family;
    }
  }
  return nullptr;
}

std::string PackageUrl(const FamilyEntry& family, std::string_view language,
                       const std::string& packageHost) {
  std::string url = "http://";
  url += packageHost;
  url += family.pathPrefix;
  url += language;
  url += family.pathSuffix;
  return url;
}

}  // namespace

PackageChoice SelectPackage(const std::string& osFamily, const std::string& language,
                            const std::string& packageHost) {
  const FamilyEntry* family = FindFamily(osFamily);
  if (family == nullptr) {
    return {};
  }
  for (std::size_t index = 0; index < kLanguages.size(); ++index) {
    if (language == kLanguages[index]) {
      return {PackageUrl(*family, language, packageHost), family->kilobytes[index]};
    }
  }
  // An unlisted code never reaches the URL: the host only serves the listed packages.
  return {PackageUrl(*family, kFallbackLanguage, packageHost), family->fallbackKilobytes};
}

PackageChoice SelectPackage(const std::string& osFamily, const std::string& language) {
  return SelectPackage(osFamily, language, PackageHost());
}

}  // namespace korvani::catalogue
