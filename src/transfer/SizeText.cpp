#include "transfer/SizeText.h"

#include <QLocale>
#include <QString>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace korvani::transfer {

namespace {

constexpr std::array<std::string_view, 9> kUnits = {"Bytes", "KB", "MB", "GB", "TB",
                                                    "PB",    "EB", "ZB", "YB"};
constexpr int kBitsPerUnitStep = 10;  // 1024 = 2^10

enum class Tie { ToEven, AwayFromZero };

// A double read as the shortest decimal that converts back to it. Rounding works on
// these digits rather than on the binary value, so 2.675 (stored as 2.67499999...)
// rounds the way it reads.
struct Decimal {
  bool negative = false;
  std::string digits;     // significant digits, the first one not zero unless the value is 0
  int integerDigits = 0;  // how many of `digits` stand before the point; may be <= 0 or beyond
};

Decimal ShortestDecimal(double value) {
  // Longest form: "-1.2345678901234567e-308".
  std::array<char, 32> text{};
  const auto [end, error] =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::scientific);
  Decimal decimal;
  if (error != std::errc()) {
    decimal.digits.assign(1, '0');  // not = "0": GCC 12 misreads that as overlapping
    decimal.integerDigits = 1;
    return decimal;
  }
  const std::string_view written(text.data(), static_cast<std::size_t>(end - text.data()));
  const auto exponentMark = written.find('e');
  std::string_view mantissa = written.substr(0, exponentMark);
  if (!mantissa.empty() && mantissa.front() == '-') {
    decimal.negative = true;
    mantissa.remove_prefix(1);
  }
  for (const char character : mantissa) {
    if (character != '.') {
      decimal.digits += character;
    }
  }
  std::string_view exponentText = written.substr(exponentMark + 1);
  if (!exponentText.empty() && exponentText.front() == '+') {
    exponentText.remove_prefix(1);  // from_chars takes a minus sign but no plus sign
  }
  int exponent = 0;
  std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
  decimal.integerDigits = exponent + 1;
  return decimal;
}

void IncrementDigits(std::string& digits) {
  for (auto position = digits.rbegin(); position != digits.rend(); ++position) {
    if (*position != '9') {
      ++*position;
      return;
    }
    *position = '0';
  }
  digits.insert(digits.begin(), '1');
}

// The digits of |value| * 10^decimals rounded to a whole number, without leading zeros.
std::string RoundToDecimals(const Decimal& decimal, int decimals, Tie tie) {
  const int kept = decimal.integerDigits + decimals;
  if (kept < 0) {
    return "0";  // the first dropped digit is a leading zero: below the half
  }
  const auto keptCount = static_cast<std::size_t>(kept);
  std::string result = decimal.digits.substr(0, std::min(keptCount, decimal.digits.size()));
  if (keptCount > decimal.digits.size()) {
    result.append(keptCount - decimal.digits.size(), '0');
  }
  if (keptCount < decimal.digits.size()) {
    const std::string_view dropped = std::string_view(decimal.digits).substr(keptCount);
    const bool beyondHalf =
        dropped.front() > '5' ||
        (dropped.front() == '5' && dropped.find_first_not_of('0', 1) != std::string_view::npos);
    const bool exactlyHalf = dropped.front() == '5' && !beyondHalf;
    const bool lastKeptIsOdd = !result.empty() && (result.back() - '0') % 2 == 1;
    if (beyondHalf || (exactlyHalf && (tie == Tie::AwayFromZero || lastKeptIsOdd))) {
      IncrementDigits(result);
    }
  }
  const auto firstNonZero = result.find_first_not_of('0');
  return firstNonZero == std::string::npos ? "0" : result.substr(firstNonZero);
}

std::string FormatRounded(double value, int decimals, Tie tie, const std::string& decimalMark) {
  const Decimal decimal = ShortestDecimal(value);
  std::string scaled = RoundToDecimals(decimal, decimals, tie);
  const bool isZero = scaled == "0";
  // At least one digit before the mark.
  const auto minimumLength = static_cast<std::size_t>(decimals) + 1;
  if (scaled.size() < minimumLength) {
    scaled.insert(0, minimumLength - scaled.size(), '0');
  }
  std::string text = decimal.negative && !isZero ? "-" : "";
  const auto integerLength = scaled.size() - static_cast<std::size_t>(decimals);
  text.append(scaled, 0, integerLength);
  if (decimals > 0) {
    text += decimalMark;
    text.append(scaled, integerLength);
  }
  return text;
}

}  // namespace

std::string FormatFileSize(double pdblBytes, const std::string& decimalMark) {
  // Infinity has no digits to show, and NaN fails the comparison below like any count under 1.
  if (!(pdblBytes >= 1) || std::isinf(pdblBytes)) {
    return {};
  }
  for (int index = static_cast<int>(kUnits.size()) - 1; index >= 0; --index) {
    // Powers of 1024 are exact in binary, so the division only moves the exponent.
    const double bytesPerUnit = std::ldexp(1.0, kBitsPerUnitStep * index);
    if (bytesPerUnit <= pdblBytes) {
      std::string text = FormatSizeNumber(pdblBytes / bytesPerUnit, decimalMark);
      text += ' ';
      text += kUnits[static_cast<std::size_t>(index)];
      return text;
    }
  }
  return {};
}

std::string FormatFileSize(double pdblBytes) {
  return FormatFileSize(pdblBytes, SystemDecimalMark());
}

std::string FormatSizeNumber(double pdblValue, const std::string& decimalMark) {
  if (!std::isfinite(pdblValue)) {
    return {};
  }
  if (pdblValue >= 100) {
    return FormatRounded(pdblValue, 0, Tie::ToEven, decimalMark);
  }
  if (pdblValue >= 10) {
    return FormatRounded(pdblValue, 1, Tie::AwayFromZero, decimalMark);
  }
  return FormatRounded(pdblValue, 2, Tie::AwayFromZero, decimalMark);
}

std::string SystemDecimalMark() {
  return QLocale::system().decimalPoint().toStdString();
}

std::string DownloadingText(std::uint64_t bytesReceived) {
  constexpr std::uint64_t kBytesPerKilobyte = 1024;
  // Integer rounding stays exact for every count, where a double would not.
  const std::uint64_t kilobytes =
      bytesReceived / kBytesPerKilobyte +
      (bytesReceived % kBytesPerKilobyte >= kBytesPerKilobyte / 2 ? 1 : 0);
  return "Downloading ... " + std::to_string(kilobytes) + " KB";
}

float BarKilobytes(std::uint64_t bytesReceived) {
  return static_cast<float>(static_cast<double>(bytesReceived) / 1024);
}

}  // namespace korvani::transfer
