#pragma once

#include <cstdint>
#include <string>

namespace korvani::transfer {

// While the fetch runs: what the progress label and the bar show, from the number of
// bytes received.

// Shown while the client session and the URL are being opened.
inline constexpr char kConnectingText[] = "Connecting ... ";

// "Downloading ... 8 KB": the kilobytes received (1024 bytes each), rounded
// half away from zero, in plain digits.
std::string DownloadingText(std::uint64_t bytesReceived);

// The bar's position: kilobytes received, not rounded.
float BarKilobytes(std::uint64_t bytesReceived);

// Once it is saved: the size of the package, as the result line shows it.

// "1.50 KB", "883 KB", "4.77 MB": the number in units of 1024 from "Bytes" to
// "YB", with the given decimal mark. A count equal to a power of 1024 takes the
// larger unit. Empty below 1 byte, for NaN and for infinity.
std::string FormatFileSize(double pdblBytes, const std::string& decimalMark);
// The same with the decimal mark of the user's locale.
std::string FormatFileSize(double pdblBytes);

// Two decimals below 10 and one below 100, ties rounded away from zero; from 100 on
// a whole number, ties rounded to even, as long as it needs to be. Rounding follows
// the shortest decimal that reads back as the value, so 2.675 gives "2.68". No digit
// grouping. Empty for NaN and infinity.
std::string FormatSizeNumber(double pdblValue, const std::string& decimalMark);

// The decimal mark of the user's locale (LC_ALL, LC_NUMERIC, LANG).
std::string SystemDecimalMark();

}  // namespace korvani::transfer
