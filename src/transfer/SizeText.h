#pragma once

#include <string>

namespace korvani::transfer {

// The size of the saved package, as the result line shows it.

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
