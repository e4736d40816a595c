#include "catalogue/PackageHostName.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace korvani::catalogue {

namespace {

constexpr std::string_view::size_type kMaxPortDigits = 5;
constexpr unsigned long kMaxPort = 65535;

// Any of these would move part of the text out of the URL's host: into a path, user
// information, a query or a fragment, or past the end of the request line.
bool BreaksOutOfHost(char character) {
  const auto code = static_cast<unsigned char>(character);
  return character == '/' || character == '@' || character == '?' || character == '#' ||
         character == ' ' || code < 0x20 || code == 0x7F;
}

bool IsPort(std::string_view port) {
  if (port.empty() || port.size() > kMaxPortDigits) {
    return false;
  }
  if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const unsigned long number = std::stoul(std::string(port));
  return number >= 1 && number <= kMaxPort;
}

bool IsPlainHostAndPort(std::string_view text) {
  if (std::any_of(text.begin(), text.end(), BreaksOutOfHost)) {
    return false;
  }
  const auto colon = text.find(':');
  const std::string_view host = text.substr(0, colon);
  if (host.empty()) {
    return false;
  }
  return colon == std::string_view::npos || IsPort(text.substr(colon + 1));
}

}  // namespace

std::string ResolvePackageHostName(const char* override, const std::string& compiledIn) {
  if (override == nullptr || !IsPlainHostAndPort(override)) {
    return compiledIn;
  }
  return override;
}

std::string PackageHostName() {
  return ResolvePackageHostName(std::getenv("KORVANI_PACKAGE_HOST"), KORVANI_PACKAGE_HOST);
}

}  // namespace korvani::catalogue
