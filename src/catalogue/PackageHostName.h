#pragma once

#include <string>

namespace korvani::catalogue {

// `override` when it is a plain host[:port] (no "/", "@", "?", "#", blank or control
// character; a port of 1 to 65535), else `compiledIn`. Null and empty give `compiledIn`.
std::string ResolvePackageHostName(const char* override, const std::string& compiledIn);
// The compiled-in host, or $KORVANI_PACKAGE_HOST when that is set and valid.
std::string PackageHostName();

}  // namespace korvani::catalogue
