// The package host override, for any text in $KORVANI_PACKAGE_HOST.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "catalogue/PackageHost.h"

using korvani::fuzz::Require;

namespace {

const std::string kCompiledIn = "packages.compiled.test";

// What would carry part of the override out of the URL's host: into a path, user
// information, a query, a fragment or another line of the request.
bool LeavesTheHost(char character) {
  const auto code = static_cast<unsigned char>(character);
  return std::string_view("/@?# ").find(character) != std::string_view::npos || code < 0x20 ||
         code == 0x7F;
}

bool IsDigit(char character) {
  return character >= '0' && character <= '9';
}

bool IsPortNumber(std::string_view port) {
  if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit)) {
    return false;
  }
  const int number = std::stoi(std::string(port));
  return number >= 1 && number <= 65535;
}

void CheckAccepted(std::string_view host) {
  Require(!host.empty(), "an accepted override is not empty");
  Require(std::none_of(host.begin(), host.end(), LeavesTheHost),
          "an accepted override holds no '/', '@', '?', '#', blank or control character");
  const auto colon = host.find(':');
  Require(colon != 0, "an accepted override names a host before any port");
  Require(colon == std::string_view::npos || IsPortNumber(host.substr(colon + 1)),
          "an accepted override's port is a number from 1 to 65535");
}

// Letters, digits, dots and hyphens, with an optional port written without leading
// zeros: such a name must not be turned down.
bool IsOrdinaryHostName(std::string_view host) {
  const auto colon = host.find(':');
  const std::string_view name = host.substr(0, colon);
  const bool plainName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-';
  });
  if (!plainName) {
    return false;
  }
  if (colon == std::string_view::npos) {
    return true;
  }
  const std::string_view port = host.substr(colon + 1);
  return IsPortNumber(port) && port.front() != '0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The environment hands over a C string: it ends at the first NUL.
  const std::string input(korvani::fuzz::InputText(data, size));
  const char* override = input.c_str();
  const std::string_view overrideText(override);

  const std::string host = korvani::catalogue::ResolvePackageHost(override, kCompiledIn);
  Require(host == kCompiledIn || host == overrideText,
          "the host is the compiled-in one or the override itself");
  if (host == overrideText && overrideText != kCompiledIn) {
    CheckAccepted(overrideText);
  }
  if (IsOrdinaryHostName(overrideText)) {
    Require(host == overrideText, "an ordinary host name with an optional port is accepted");
  }
  Require(korvani::catalogue::ResolvePackageHost(nullptr, kCompiledIn) == kCompiledIn,
          "no override gives the compiled-in host");
  return 0;
}
