// The name a fetched URL is saved under, for any URL and any time the clock can give.

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "platform/Clock.h"
#include "transfer/FileName.h"

using korvani::fuzz::Require;
using korvani::platform::LocalDateTime;

namespace {

// What the system clock can hand over: all zeros when the local time is unknown, a
// leap second, and years past four digits.
constexpr std::array<LocalDateTime, 5> kTimes = {{
    {},
    {.year = 2026, .month = 12, .day = 6, .hour = 14, .minute = 5, .second = 9},
    {.year = 1970, .month = 1, .day = 1, .hour = 0, .minute = 0, .second = 0},
    {.year = 9999, .month = 12, .day = 31, .hour = 23, .minute = 59, .second = 60},
    {.year = INT_MAX, .month = 12, .day = 31, .hour = 23, .minute = 59, .second = 59},
}};

std::string TwoDigits(int value) {
  const int lastTwo = value % 100;
  return {static_cast<char>('0' + lastTwo / 10), static_cast<char>('0' + lastTwo % 10)};
}

std::string GeneratedName(const LocalDateTime& now) {
  return "Download" + TwoDigits(now.hour) + TwoDigits(now.minute) + TwoDigits(now.second) +
         TwoDigits(now.month) + TwoDigits(now.day) + TwoDigits(now.year) + ".tmp";
}

void CheckStaysInFolder(const std::string& name) {
  const bool special = name.empty() || name == "." || name == "..";
  Require(korvani::transfer::NamesFileInFolder(name) == !special,
          "only the empty name, \".\" and \"..\" are turned down");
  if (special) {
    return;
  }
  const std::filesystem::path folder = "/program/folder";
  const std::filesystem::path target = (folder / name).lexically_normal();
  Require(target.parent_path() == folder && target.filename() == name,
          "an accepted name stays directly inside the folder");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(korvani::fuzz::InputText(data, size));
  const auto lastSlash = url.rfind('/');
  for (const LocalDateTime& now : kTimes) {
    const std::string name = korvani::transfer::FileNameForUrl(url, now);
    Require(name.find('/') == std::string::npos, "the file name never holds a '/'");
    if (lastSlash != std::string::npos) {
      Require(name == url.substr(lastSlash + 1),
              "with a '/', the name is the text after the last one");
    } else {
      Require(name == GeneratedName(now),
              "without a '/', the name is Download, hhmmssmmddyy of the time and .tmp");
    }
    CheckStaysInFolder(name);
  }
  return 0;
}
