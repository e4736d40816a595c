#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvani::catalogue {

// `override` when it is a plain host[:port] (no "/", "@", "?", "#", blank or control
// character; a port of 1 to 65535), else `compiledIn`. Null and empty give `compiledIn`.
std::string ResolvePackageHostName(const char* override, const std::string& compiledIn);
// The port a plain host[:port] names (1 to 65535); nothing for a host alone, and for
// anything that is not a plain host[:port].
std::optional<std::uint16_t> PortOfHostName(std::string_view hostAndPort);
// The compiled-in host, or $KORVANI_PACKAGE_HOST when that is set and valid.
std::string PackageHostName();

}  // namespace korvani::catalogue
