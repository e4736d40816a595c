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
using korvani::startup::ArgumentText;
using korvani::startup::SplitCommandLine;

namespace {

bool OnlyBlanks(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

// The arguments as the process hands them over, joined into the argument text.
std::string ArgumentTextOf(const std::vector<std::string>& fields) {
  std::vector<const char*> pointers;
  pointers.reserve(fields.size());
  for (const std::string& field : fields) {
    pointers.push_back(field.c_str());
  }
  return ArgumentText(pointers);
}

void CheckSplit(std::string_view text, const std::vector<std::string>& fields) {
  Require(
      std::none_of(fields.begin(), fields.end(),
                   [](const std::string& field) { return field.find(' ') != std::string::npos; }),
      "no field holds a blank");
  Require(fields.empty() || (!fields.front().empty() && !fields.back().empty()),
          "the first and the last field are never empty");
  // Split and join round-trip: only blanks at either end are lost. Joined here rather than
  // by ArgumentText, which stops at a field's NUL as the process's arguments do.
  const std::string joined = korvani::fuzz::Joined(fields, ' ');
  const auto at = fields.empty() ? text.size() : text.find(joined);
  Require(at != std::string_view::npos && OnlyBlanks(text.substr(0, at)) &&
              OnlyBlanks(text.substr(at + joined.size())),
          "the fields joined with single blanks give the text, but for blanks at its ends");
  Require(SplitCommandLine(joined) == fields, "splitting the joined fields gives them back");
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
// joined into the argument text and split again. The input's NULs separate them.
void CheckArgumentsRoundTrip(std::string_view text) {
  std::vector<std::string> arguments;
  for (std::size_t start = 0; start <= text.size();) {
    const auto end = std::min(text.find('\0', start), text.size());
    arguments.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  const bool plainWords =
      std::none_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
        return argument.empty() || argument.find(' ') != std::string::npos;
      });
  if (plainWords) {
    Require(SplitCommandLine(ArgumentTextOf(arguments)) == arguments,
            "plain words survive the argument text and the split");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(korvani::fuzz::InputText(data, size));
  const std::vector<std::string> fields = SplitCommandLine(text);
  CheckSplit(text, fields);
  CheckSettings(text, fields);
  CheckArgumentsRoundTrip(text);
  return 0;
}
