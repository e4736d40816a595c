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

std::optional<std::uint16_t> ParsePort(std::string_view port) {
  if (port.empty() || port.size() > kMaxPortDigits ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  unsigned long number = 0;
  for (const char digit : port) {
    number = number * 10 + static_cast<unsigned long>(digit - '0');
  }
  if (number < 1 || number > kMaxPort) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(number);
}

struct HostAndPort {
  std::string_view host;
  std::optional<std::uint16_t> port;
};

// The text read as a plain host[:port]: nothing when it is not one.
std::optional<HostAndPort> ReadHostAndPort(std::string_view text) {
  if (std::any_of(text.begin(), text.end(), BreaksOutOfHost)) {
    return std::nullopt;
  }
  const auto colon = text.find(':');
  HostAndPort read{.host = text.substr(0, colon), .port = std::nullopt};
  if (read.host.empty()) {
    return std::nullopt;
  }
  if (colon != std::string_view::npos) {
    read.port = ParsePort(text.substr(colon + 1));
    if (!read.port) {
      return std::nullopt;
    }
  }
  return read;
}

}  // namespace

std::string ResolvePackageHostName(const char* override, const std::string& compiledIn) {
  if (override == nullptr || !ReadHostAndPort(override)) {
    return compiledIn;
  }
  return override;
}

std::optional<std::uint16_t> PortOfHostName(std::string_view hostAndPort) {
  const std::optional<HostAndPort> read = ReadHostAndPort(hostAndPort);
  return read ? read->port : std::nullopt;
}

std::string PackageHostName() {
  return ResolvePackageHostName(std::getenv("KORVANI_PACKAGE_HOST"), KORVANI_PACKAGE_HOST);
}

}  // namespace korvani::catalogue
