#pragma once

#include <string>

namespace korvani::transfer {

// "1.50 KB", "883 KB", "4.77 MB": the number in units of 1024 from "Bytes" to
// "YB", with the given decimal mark. Empty below 1 byte.
std::string FormatFileSize(double pdblBytes, const std::string& decimalMark);
// The same with the decimal mark of the user's locale.
std::string FormatFileSize(double pdblBytes);

// Two decimals below 10, one below 100, a whole number from 100 on.
std::string FormatSizeNumber(double pdblValue, const std::string& decimalMark);

// The decimal mark of the user's locale (LC_ALL, LC_NUMERIC, LANG).
std::string SystemDecimalMark();

}  // namespace korvani::transfer
