// The package choice for any family, language and host.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "catalogue/SelectPackage.h"

using korvani::fuzz::Require;

namespace {

struct CataloguePackage {
  std::string_view family;
  std::string_view language;
  std::string_view path;
  float kilobytes;
};

// Written out in full rather than built from prefixes, so that a fault in how the
// selection puts a URL together cannot hide in the same code here.
constexpr std::array<CataloguePackage, 14> kCatalogue = {{
    {"xp", "de", "/downloads/RUD_UZ7_de.exe", 883},
    {"xp", "en", "/downloads/RUD_UZ7_en.exe", 793},
    {"xp", "es", "/downloads/RUD_UZ7_es.exe", 851},
    {"xp", "fr", "/downloads/RUD_UZ7_fr.exe", 848},
    {"xp", "it", "/downloads/RUD_UZ7_it.exe", 841},
    {"xp", "jp", "/downloads/RUD_UZ7_jp.exe", 852},
    {"xp", "nl", "/downloads/RUD_UZ7_nl.exe", 804},
    {"9x", "de", "/downloads/VUD_de_win98.exe", 778},
    {"9x", "en", "/downloads/VUD_en_win98.exe", 690},
    {"9x", "es", "/downloads/VUD_es_win98.exe", 746},
    {"9x", "fr", "/downloads/VUD_fr_win98.exe", 753},
    {"9x", "it", "/downloads/VUD_it_win98.exe", 748},
    {"9x", "jp", "/downloads/VUD_jp_win98.exe", 756},
    {"9x", "nl", "/downloads/VUD_nl_win98.exe", 712},
}};

bool IsListed(const std::string& code, std::string_view CataloguePackage::*column) {
  return std::any_of(kCatalogue.begin(), kCatalogue.end(),
                     [&](const CataloguePackage& package) { return package.*column == code; });
}

void CheckListedFamily(const std::string& family, const std::string& language,
                       const std::string& host, const korvani::catalogue::PackageChoice& choice) {
  const std::string expectedLanguage =
      IsListed(language, &CataloguePackage::language) ? language : "en";
  const auto package =
      std::find_if(kCatalogue.begin(), kCatalogue.end(), [&](const CataloguePackage& entry) {
        return entry.family == family && entry.language == expectedLanguage;
      });
  Require(package != kCatalogue.end(), "the catalogue table here covers every listed pair");
  Require(choice.url == "http://" + host + std::string(package->path),
          "a listed family gives the catalogue URL of its language, or of en, on the given host");
  Require(choice.expectedKilobytes.has_value(), "a listed family gives a size");
  Require(choice.expectedKilobytes == package->kilobytes, "the size is the one of the chosen URL");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> fields =
      korvani::fuzz::InputFields(korvani::fuzz::InputText(data, size), 3);
  const std::string& family = fields[0];
  const std::string& language = fields[1];
  const std::string& host = fields[2];

  const korvani::catalogue::PackageChoice choice =
      korvani::catalogue::SelectPackage(family, language, host);
  if (IsListed(family, &CataloguePackage::family)) {
    CheckListedFamily(family, language, host, choice);
  } else {
    Require(choice.url.empty(), "an unlisted family gives an empty URL");
    Require(!choice.expectedKilobytes.has_value(), "an unlisted family gives no size");
  }
  Require(korvani::catalogue::SelectPackage(family, language, host) == choice,
          "the same codes give the same choice");
  return 0;
}
