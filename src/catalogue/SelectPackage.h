#pragma once

#include <string>

#include "catalogue/PackageChoice.h"

namespace korvani::catalogue {

// The package for an OS family ("xp", "9x") and a language code, on `packageHost`.
// Codes are compared whole and case-sensitively; an unlisted language falls back
// to "en", an unlisted family gives an empty choice.
PackageChoice SelectPackage(const std::string& osFamily, const std::string& language,
                            const std::string& packageHost);
// The same on the host PackageHost() names.
PackageChoice SelectPackage(const std::string& osFamily, const std::string& language);

}  // namespace korvani::catalogue
