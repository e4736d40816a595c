#include "startup/CommandLine.h"

#include "startup/Settings.h"

namespace korvani::startup {

std::string ArgumentText(std::span<const char* const> arguments) {
  std::string text;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) {
      text += ' ';
    }
    text += arguments[i];
  }
  return text;
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);

  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const auto blank = text.find(' ', start);
    fields.emplace_back(text.substr(start, blank - start));
    if (blank == std::string_view::npos) {
      return fields;
    }
    start = blank + 1;
  }
}

void FixSettings(const std::string& argumentText) {
  const std::vector<std::string> fields = SplitCommandLine(argumentText);
  gstrLanguage = "en";
  gstrOSFamily = "xp";
  // Any other shape is ignored as a whole, so a lone code never mixes with a default.
  if (fields.size() == 2) {
    gstrOSFamily = fields[0];
    gstrLanguage = fields[1];
  }
}

}  // namespace korvani::startup
