#include "FaultMode.h"

#include <charconv>
#include <cmath>

namespace korvani::packagehost {
namespace {

// A whole-text number, or nothing: "5x", "" and " 5" are refused.
template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

// Waits longer than a day are typing errors, not test cases.
constexpr double kLongestWaitSeconds = 86400;

std::optional<double> ParseSeconds(std::string_view text) {
  const auto seconds = ParseNumber<double>(text);
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0 || *seconds > kLongestWaitSeconds) {
    return std::nullopt;
  }
  return seconds;
}

}  // namespace

std::optional<FaultMode> ParseFaultMode(std::string_view text) {
  const auto colon = text.find(':');
  const std::string_view word = text.substr(0, colon);
  const std::string_view argument =
      colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  const bool hasArgument = colon != std::string_view::npos;

  FaultMode mode;
  if (word == "status" && hasArgument) {
    const auto status = ParseNumber<int>(argument);
    if (!status || *status < 200 || *status > 599) {
      return std::nullopt;
    }
    mode.kind = FaultKind::Status;
    mode.status = *status;
    return mode;
  }
  if ((word == "stall" || word == "delay-headers") && hasArgument) {
    const auto seconds = ParseSeconds(argument);
    if (!seconds) {
      return std::nullopt;
    }
    mode.kind = word == "stall" ? FaultKind::Stall : FaultKind::DelayHeaders;
    mode.seconds = *seconds;
    return mode;
  }
  if (word == "trickle" && hasArgument) {
    const auto rate = ParseNumber<std::uint64_t>(argument);
    if (!rate || *rate == 0) {
      return std::nullopt;
    }
    mode.kind = FaultKind::Trickle;
    mode.bytesPerSecond = *rate;
    return mode;
  }
  if (word == "redirect-to" && !argument.empty()) {
    mode.kind = FaultKind::RedirectTo;
    mode.baseUrl = argument;
    return mode;
  }
  if (hasArgument) {
    return std::nullopt;
  }
  if (word == "none") {
    mode.kind = FaultKind::None;
  } else if (word == "short") {
    mode.kind = FaultKind::Short;
  } else if (word == "chunked-short") {
    mode.kind = FaultKind::ChunkedShort;
  } else if (word == "empty") {
    mode.kind = FaultKind::Empty;
  } else if (word == "redirect") {
    mode.kind = FaultKind::Redirect;
  } else if (word == "redirect-file") {
    mode.kind = FaultKind::RedirectFile;
  } else if (word == "redirect-loop") {
    mode.kind = FaultKind::RedirectLoop;
  } else if (word == "flip-byte") {
    mode.kind = FaultKind::FlipByte;
  } else if (word == "portal") {
    mode.kind = FaultKind::Portal;
  } else {
    return std::nullopt;
  }
  return mode;
}

}  // namespace korvani::packagehost
