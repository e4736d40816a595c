#include "HostOptions.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "PackageStore.h"

namespace korvani::packagehost {

const char* const kHostUsage =
    "usage: korvani-package-host [--address A] [--port N] [--root DIR] [--generate]\n"
    "                            [--file NAME=BYTES]... [--fault MODE] [--log FILE]\n"
    "                            [--sums FILE]\n"
    "                            [--tls-cert FILE --tls-key FILE]\n"
    "MODE: none, status:CODE, short, chunked-short, stall:SECONDS, empty, redirect,\n"
    "      redirect-file, redirect-loop, redirect-to:BASEURL, delay-headers:SECONDS,\n"
    "      trickle:BYTES_PER_SECOND, flip-byte, portal\n";

namespace {

// Larger generated files are kept in memory whole; this keeps a typo from eating it all.
constexpr std::uint64_t kLargestGeneratedFile = std::uint64_t{1} << 32U;
constexpr int kLargestPort = 65535;

template <typename Number>
bool ParseWholeNumber(std::string_view text, Number& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

bool ParseGeneratedFile(std::string_view text, HostOptions& options, std::string& error) {
  const auto equals = text.rfind('=');
  std::uint64_t size = 0;
  if (equals == std::string_view::npos || !ParseWholeNumber(text.substr(equals + 1), size) ||
      size > kLargestGeneratedFile) {
    error = "--file wants NAME=BYTES (at most 4 GiB), not \"" + std::string(text) + "\"";
    return false;
  }
  const std::string name(text.substr(0, equals));
  if (!IsPlainFileName(name)) {
    error = "--file: \"" + name + "\" is not a plain file name";
    return false;
  }
  options.generatedFiles.emplace_back(name, static_cast<std::size_t>(size));
  return true;
}

}  // namespace

bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--generate") {
      options.generateCatalogue = true;
      continue;
    }
    if (option != "--address" && option != "--port" && option != "--root" && option != "--file" &&
        option != "--fault" && option != "--log" && option != "--sums" && option != "--tls-cert" &&
        option != "--tls-key") {
      error = "unknown option \"" + std::string(option) + "\"";
      return false;
    }
    if (i + 1 >= argc) {
      error = std::string(option) + " needs a value";
      return false;
    }
    const std::string_view value = argv[++i];
    if (option == "--address") {
      if (!value.starts_with("127.")) {
        error = "--address wants a loopback address 127.x.y.z, not \"" + std::string(value) + "\"";
        return false;
      }
      options.address = value;
    } else if (option == "--port") {
      if (!ParseWholeNumber(value, options.port) || options.port < 0 ||
          options.port > kLargestPort) {
        error = "--port wants 0 to 65535, not \"" + std::string(value) + "\"";
        return false;
      }
    } else if (option == "--root") {
      options.folder = value;
    } else if (option == "--file") {
      if (!ParseGeneratedFile(value, options, error)) {
        return false;
      }
    } else if (option == "--fault") {
      const auto fault = ParseFaultMode(value);
      if (!fault) {
        error = "unknown fault mode \"" + std::string(value) + "\"";
        return false;
      }
      options.fault = *fault;
    } else if (option == "--tls-cert") {
      options.tlsCertificate = value;
    } else if (option == "--tls-key") {
      options.tlsKey = value;
    } else if (option == "--sums") {
      options.sumsFile = value;
    } else {
      options.logFile = value;
    }
  }
  if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
    error = "--tls-cert and --tls-key go together";
    return false;
  }
  return true;
}

}  // namespace korvani::packagehost
