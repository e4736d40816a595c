// The package choice for any family, language and host.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "catalogue/SelectPackage.h"

using korvani::catalogue::CataloguePackage;
using korvani::catalogue::CataloguePackages;
using korvani::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> fields =
      korvani::fuzz::InputFields(korvani::fuzz::InputText(data, size), 3);
  const std::string& family = fields[0];
  const std::string& language = fields[1];
  const std::string& host = fields[2];

  const korvani::catalogue::PackageChoice choice =
      korvani::catalogue::SelectPackage(family, language, host);
  const auto packages = CataloguePackages();
  const bool familyListed = std::any_of(packages.begin(), packages.end(), [&](const auto& package) {
    return package.family == family;
  });
  Require(choice.url.empty() == !familyListed,
          "the choice is empty exactly for an unlisted family");
  Require(choice.url.empty() == !choice.expectedKilobytes.has_value(),
          "a size comes with a URL, and only with one");
  if (choice.url.empty()) {
    return 0;
  }

  const std::string start =
      std::string(korvani::catalogue::PackageScheme()) + "://" + host + "/downloads/";
  Require(choice.url.starts_with(start),
          "the URL is on the given host, in /downloads/, by the build's scheme");
  const std::string name = choice.url.substr(start.size());
  const auto package = std::find_if(packages.begin(), packages.end(),
                                    [&](const auto& entry) { return entry.fileName == name; });
  Require(package != packages.end(), "the URL ends in the name of a catalogue package");
  Require(package->family == family, "the package is one of the given family");
  Require(choice.sha256 == package->sha256, "the pin is the package's own");
  const bool languageListed =
      std::any_of(packages.begin(), packages.end(), [&](const CataloguePackage& entry) {
        return entry.family == family && entry.language == language;
      });
  Require(package->language == (languageListed ? language : "en"),
          "the package is of the given language when the family has one, else of \"en\"");
  Require(*choice.expectedKilobytes == static_cast<float>(package->kilobytes),
          "the size is the catalogue's size of that package");
  return 0;
}
