#pragma once

#include <string>

namespace korvani::catalogue {

// `override` when it is a plain host[:port], else `compiledIn`.
std::string ResolvePackageHost(const char* override, const std::string& compiledIn);
// The compiled-in host, or $KORVANI_PACKAGE_HOST when that is set and valid.
std::string PackageHost();

}  // namespace korvani::catalogue
