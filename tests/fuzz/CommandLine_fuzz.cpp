// The command-line split and the two settings it fixes, for any argument text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "startup/CommandLine.h"
#include "startup/Settings.h"

using korvani::fuzz::Require;

namespace {

// Only code 32 counts as a blank: tabs and other white space stay in the text.
std::string_view WithoutEdgeBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void CheckSplit(std::string_view text, const std::vector<std::string>& fields) {
  Require(
      std::none_of(fields.begin(), fields.end(),
                   [](const std::string& field) { return field.find(' ') != std::string::npos; }),
      "no field holds a blank");
  const std::string_view trimmed = WithoutEdgeBlanks(text);
  Require(korvani::fuzz::Joined(fields, ' ') == trimmed,
          "the fields joined with single blanks give the trimmed text");
  Require(fields.empty() == trimmed.empty(), "an empty text, and only that, gives no fields");
  Require(fields.empty() || (!fields.front().empty() && !fields.back().empty()),
          "the first and the last field are never empty");
}

void CheckSettings(const std::string& text, const std::vector<std::string>& fields) {
  // Leftovers of the previous input must not survive into this one.
  korvani::startup::gstrOSFamily = "stale family";
  korvani::startup::gstrLanguage = "stale language";
  korvani::startup::FixSettings(text);
  if (fields.size() == 2) {
    Require(
        korvani::startup::gstrOSFamily == fields[0] && korvani::startup::gstrLanguage == fields[1],
        "exactly two fields become the family and the language, as typed");
  } else {
    Require(korvani::startup::gstrOSFamily == "xp" && korvani::startup::gstrLanguage == "en",
            "any other number of fields leaves both defaults");
  }
}

// Arguments that hold no blank and are not empty come back one for one after being
// joined into the argument text and split again.
void CheckArgumentsRoundTrip(std::string_view text) {
  std::vector<std::string> arguments;
  for (std::size_t start = 0; start <= text.size();) {
    const auto end = std::min(text.find('\0', start), text.size());
    arguments.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> pointers;
  pointers.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    pointers.push_back(argument.c_str());
  }
  const std::string argumentText = korvani::startup::ArgumentText(pointers);
  Require(argumentText == korvani::fuzz::Joined(arguments, ' '),
          "the argument text is the arguments joined with single blanks");
  const bool plainWords =
      std::none_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
        return argument.empty() || argument.find(' ') != std::string::npos;
      });
  if (plainWords) {
    Require(korvani::startup::SplitCommandLine(argumentText) == arguments,
            "plain words survive the argument text and the split");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(korvani::fuzz::InputText(data, size));
  const std::vector<std::string> fields = korvani::startup::SplitCommandLine(text);
  CheckSplit(text, fields);
  CheckSettings(text, fields);
  CheckArgumentsRoundTrip(text);
  return 0;
}
