// The name a fetched URL is saved under, for any URL and any time the clock can give.

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

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

bool IsDigit(char character) {
  return character >= '0' && character <= '9';
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
  const bool hasSlash = url.find('/') != std::string::npos;
  for (const LocalDateTime& now : kTimes) {
    const std::string name = korvani::transfer::FileNameForUrl(url, now);
    Require(name.find('/') == std::string::npos, "the file name never holds a '/'");
    if (hasSlash) {
      Require(url.ends_with("/" + name), "with a '/', the name ends the URL, right after a '/'");
    } else {
      // "Download", twelve digits of the time, ".tmp".
      constexpr std::string_view kStart = "Download";
      constexpr std::string_view kEnd = ".tmp";
      constexpr std::size_t kDigits = 12;
      Require(name.size() == kStart.size() + kDigits + kEnd.size() && name.starts_with(kStart) &&
                  name.ends_with(kEnd) &&
                  std::all_of(name.begin() + kStart.size(), name.end() - kEnd.size(), IsDigit),
              "without a '/', the name is Download, twelve digits and .tmp");
    }
    CheckStaysInFolder(name);
  }
  return 0;
}
