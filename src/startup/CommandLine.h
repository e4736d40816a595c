#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvani::startup {

// The process's argument text: the arguments after the program's name, joined
// with single blanks, quotes and all, as a setup program would have passed them.
std::string ArgumentText(std::span<const char* const> arguments);

// Removes blanks (code 32 only, not tabs) from both ends, then splits at every
// blank: k blanks give k + 1 fields, and an empty text gives none.
std::vector<std::string> SplitCommandLine(std::string_view text);

// Sets gstrOSFamily and gstrLanguage: "xp" and "en", unless the text holds
// exactly two fields, which then replace both.
void FixSettings(const std::string& argumentText);

}  // namespace korvani::startup
