// The size texts, for any byte count and any decimal mark: each text reads back as the
// number it stands for, within the rounding of its last digit.
//
// Input: a number as strtod reads it ("1536", "1e300", "0x1p-1074", "nan", "-inf"),
// optionally followed by a line feed and the decimal mark to use (a full stop if absent).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "transfer/SizeText.h"

using korvani::fuzz::Require;

namespace {

constexpr std::array<std::string_view, 9> kUnits = {"Bytes", "KB", "MB", "GB", "TB",
                                                    "PB",    "EB", "ZB", "YB"};
constexpr std::size_t kMaxMarkLength = 8;
constexpr int kMostDecimals = 2;
// The gap between a double and the shortest decimal that reads back as it.
constexpr double kReadBackSlack = 1e-15;

bool IsDigits(std::string_view text) {
  return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// `text` read as a number with `decimals` digits after `mark`: an optional minus sign,
// digits without leading zeros, then the mark and the decimals. Nothing when it is not
// of that form.
std::optional<double> ReadNumber(std::string_view text, const std::string& mark, int decimals) {
  const bool negative = text.starts_with('-');
  if (negative) {
    text.remove_prefix(1);
  }
  const auto fractionLength = static_cast<std::size_t>(decimals);
  const std::size_t tailLength = decimals > 0 ? mark.size() + fractionLength : 0;
  if (text.size() <= tailLength) {
    return std::nullopt;
  }
  const std::string_view integerPart = text.substr(0, text.size() - tailLength);
  const std::string_view fractionPart = text.substr(text.size() - fractionLength);
  if ((decimals > 0 && text.substr(integerPart.size(), mark.size()) != mark) ||
      !IsDigits(integerPart) || !IsDigits(fractionPart) ||
      (integerPart.size() > 1 && integerPart.front() == '0')) {
    return std::nullopt;
  }
  const std::string plain = std::string(integerPart) + "." + std::string(fractionPart);
  const double magnitude = std::strtod(plain.c_str(), nullptr);
  return negative ? -magnitude : magnitude;
}

// `text` reads back as `value`: within half a unit of its last decimal, never further
// off than half a percent (at least three figures), and never "-0".
bool ReadsBackAs(std::string_view text, double value, const std::string& mark) {
  for (int decimals = 0; decimals <= kMostDecimals; ++decimals) {
    const std::optional<double> shown = ReadNumber(text, mark, decimals);
    if (!shown) {
      continue;
    }
    const double slack = std::fabs(value) * kReadBackSlack;
    const double error = std::fabs(*shown - value);
    if (error <= std::pow(10.0, -decimals) / 2 + slack &&
        error <= 0.005 * std::max(1.0, std::fabs(value)) + slack &&
        !(text.starts_with('-') && *shown == 0)) {
      return true;
    }
  }
  return false;
}

void CheckFileSize(double bytes, const std::string& mark) {
  const std::string text = korvani::transfer::FormatFileSize(bytes, mark);
  Require(text.empty() == (!(bytes >= 1) || std::isinf(bytes)),
          "the size text is empty exactly below one byte and for NaN or infinity");
  if (text.empty()) {
    return;
  }
  const auto blank = text.rfind(' ');
  Require(blank != std::string::npos, "the size text ends with a blank and a unit");
  const auto unit =
      std::find(kUnits.begin(), kUnits.end(), std::string_view(text).substr(blank + 1));
  Require(unit != kUnits.end(), "the size text ends with a unit from Bytes to YB");
  const int exponent = 10 * static_cast<int>(unit - kUnits.begin());
  const double scaled = std::ldexp(bytes, -exponent);
  Require(scaled >= 1 && (scaled < 1024 || unit + 1 == kUnits.end()),
          "the unit is the largest that is not above the count");
  Require(ReadsBackAs(std::string_view(text).substr(0, blank), scaled, mark),
          "the number reads back as the count in that unit, within its rounding");
}

void CheckSizeNumber(double value, const std::string& mark) {
  const std::string text = korvani::transfer::FormatSizeNumber(value, mark);
  Require(text.empty() == !std::isfinite(value),
          "the number text is empty exactly for NaN or infinity");
  if (!text.empty()) {
    Require(ReadsBackAs(text, value, mark), "the number text reads back within its rounding");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> fields =
      korvani::fuzz::InputFields(korvani::fuzz::InputText(data, size), 2);
  const double value = std::strtod(fields[0].c_str(), nullptr);
  const bool markGiven = size > fields[0].size();
  const std::string mark = markGiven ? fields[1].substr(0, kMaxMarkLength) : ".";

  CheckFileSize(value, mark);
  CheckSizeNumber(value, mark);
  return 0;
}
