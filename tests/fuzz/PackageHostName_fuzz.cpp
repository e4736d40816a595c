// The package host override, for any text in $KORVANI_PACKAGE_HOST.

#include <curl/curl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "catalogue/PackageHostName.h"

using korvani::fuzz::Require;

namespace {

const std::string kCompiledIn = "packages.compiled.test";

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

// One part of `url` as libcurl reads it; empty when the URL has none.
std::string UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK) {
    return {};
  }
  std::string copy(text);
  curl_free(text);
  return copy;
}

// libcurl, which fetches the package, reads a URL on an accepted override as a host and
// the override's port, with the package's path and nothing else: no user, query or fragment. A URL
// libcurl turns down ("!" in the name, say) fails the fetch, which is safe.
void CheckStaysOnHost(std::string_view host) {
  const std::string path = "/downloads/package.exe";
  const std::string text = "http://" + std::string(host) + path;
  const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
  Require(url != nullptr, "libcurl can hold a URL");
  if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
    return;
  }
  const auto colon = host.find(':');
  // libcurl may write a numeric host its own way ("0" as "0.0.0.0"): only its presence counts.
  Require(!UrlPart(url.get(), CURLUPART_HOST).empty(), "the URL has a host");
  const std::string port = UrlPart(url.get(), CURLUPART_PORT);
  Require(colon == std::string_view::npos
              ? port.empty()
              : !port.empty() && std::stoi(port) == std::stoi(std::string(host.substr(colon + 1))),
          "the URL's port is the override's port, if it has one");
  Require(UrlPart(url.get(), CURLUPART_PATH) == path, "the URL's path is the package's");
  Require(UrlPart(url.get(), CURLUPART_USER).empty() &&
              UrlPart(url.get(), CURLUPART_QUERY).empty() &&
              UrlPart(url.get(), CURLUPART_FRAGMENT).empty(),
          "the URL has no user, query or fragment");
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

  const std::string host = korvani::catalogue::ResolvePackageHostName(override, kCompiledIn);
  Require(host == kCompiledIn || host == overrideText,
          "the host is the compiled-in one or the override itself");
  if (host == overrideText && overrideText != kCompiledIn) {
    CheckStaysOnHost(overrideText);
  }
  if (IsOrdinaryHostName(overrideText)) {
    Require(host == overrideText, "an ordinary host name with an optional port is accepted");
  }
  Require(korvani::catalogue::ResolvePackageHostName(nullptr, kCompiledIn) == kCompiledIn,
          "no override gives the compiled-in host");
  return 0;
}
