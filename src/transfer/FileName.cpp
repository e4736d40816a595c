#include "transfer/FileName.h"

namespace korvani::transfer {

namespace {

void AppendTwoDigits(std::string& text, int value) {
  // Always two digits, even for a value the clock should never give: a name
  // must not pick up a '-' or a '/' from it.
  const int lastTwo = (value % 100 + 100) % 100;
  text += static_cast<char>('0' + lastTwo / 10);
  text += static_cast<char>('0' + lastTwo % 10);
}

std::string GeneratedFileName(const platform::LocalDateTime& now) {
  std::string name = "Download";
  for (const int part : {now.hour, now.minute, now.second, now.month, now.day, now.year}) {
    AppendTwoDigits(name, part);
  }
  return name + ".tmp";
}

}  // namespace

std::string FileNameForUrl(const std::string& url, const platform::LocalDateTime& now) {
  const auto lastSlash = url.rfind('/');
  if (lastSlash == std::string::npos) {
    return GeneratedFileName(now);
  }
  return url.substr(lastSlash + 1);
}

bool NamesFileInFolder(const std::string& fileName) {
  return !fileName.empty() && fileName != "." && fileName != "..";
}

}  // namespace korvani::transfer
