// The size texts, for any byte count and any decimal mark.
//
// Input: a number as strtod reads it ("1536", "1e300", "0x1p-1074", "nan", "-inf"),
// optionally followed by a line feed and the decimal mark to use (a full stop if absent).

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

bool IsDigits(std::string_view text) {
  return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Two decimals below 10, one below 100, none from there on; the choice follows the
// value before rounding, so 9.999 shows as "10.00".
int DecimalsFor(double value) {
  if (value >= 100) {
    return 0;
  }
  return value >= 10 ? 1 : 2;
}

// `text` must be the number `value` with `decimals` decimals after `mark`, rounded to
// one of its two neighbours at that precision, with no leading zeros and no "-0".
void CheckNumberText(std::string_view text, double value, int decimals, const std::string& mark) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) {
    text.remove_prefix(1);
  }
  const auto fractionLength = static_cast<std::size_t>(decimals);
  const std::size_t tailLength = decimals > 0 ? mark.size() + fractionLength : 0;
  Require(text.size() > tailLength, "the number has digits before the decimal mark");
  const std::string_view integerPart = text.substr(0, text.size() - tailLength);
  const std::string_view fractionPart = text.substr(text.size() - fractionLength);
  if (decimals > 0) {
    Require(text.substr(integerPart.size(), mark.size()) == mark,
            "the decimals follow the given decimal mark");
  }
  Require(!integerPart.empty() && IsDigits(integerPart) && IsDigits(fractionPart),
          "the number is written in plain digits");
  Require(integerPart.size() == 1 || integerPart.front() != '0', "the number has no leading zeros");

  const std::string digits = std::string(integerPart) + "." + std::string(fractionPart);
  const double shown = std::strtod(digits.c_str(), nullptr);
  Require(!negative || (value < 0 && shown != 0), "a minus sign only for a negative, never -0");
  // Away from the rounding edge, where the last binary digit can tip the rounding.
  Require(negative || value > -std::pow(10.0, -decimals) / 2 * (1 + 1e-9),
          "a negative that does not round to zero shows its sign");
  // Half a unit of the last decimal, plus the gap between the value and the shortest
  // decimal that reads back as it.
  const double tolerance = std::pow(10.0, -decimals) / 2 + std::fabs(value) * 1e-15;
  Require(std::fabs(shown - std::fabs(value)) <= tolerance,
          "the number is the value rounded to its decimals");
}

void CheckFileSize(double bytes, const std::string& mark) {
  const std::string text = korvani::transfer::FormatFileSize(bytes, mark);
  const bool belowOneOrNoNumber = !(bytes >= 1) || std::isinf(bytes);
  Require(text.empty() == belowOneOrNoNumber,
          "the size text is empty exactly below one byte and for NaN or infinity");
  if (text.empty()) {
    return;
  }
  std::size_t unit = 0;
  while (unit + 1 < kUnits.size() && std::ldexp(1.0, 10 * static_cast<int>(unit + 1)) <= bytes) {
    ++unit;
  }
  const std::string suffix = " " + std::string(kUnits[unit]);
  Require(text.size() > suffix.size() && text.ends_with(suffix),
          "the size text ends with one blank and the largest unit not above the count");
  const double scaled = bytes / std::ldexp(1.0, 10 * static_cast<int>(unit));
  CheckNumberText(std::string_view(text).substr(0, text.size() - suffix.size()), scaled,
                  DecimalsFor(scaled), mark);
}

void CheckSizeNumber(double value, const std::string& mark) {
  const std::string text = korvani::transfer::FormatSizeNumber(value, mark);
  Require(text.empty() == !std::isfinite(value),
          "the number text is empty exactly for NaN or infinity");
  if (!text.empty()) {
    CheckNumberText(text, value, DecimalsFor(value), mark);
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
