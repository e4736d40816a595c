#include "startup/PlatformChoice.h"

#include <cstdlib>
#include <string_view>
#include <vector>

namespace korvani::startup {
namespace {

constexpr std::string_view kOffscreen = "offscreen";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The plugin an entry names, without its arguments ("xcb:arg=1" names "xcb").
std::string_view PluginName(std::string_view entry) {
  return entry.substr(0, entry.find(':'));
}

bool IsAbsolute(const std::string& path) {
  return !path.empty() && path.front() == '/';
}

// Where libwayland can find a socket without reporting on stderr that it cannot.
bool WaylandSocketLocatable(const DisplayEnvironment& environment) {
  return IsAbsolute(environment.waylandDisplay) || IsAbsolute(environment.runtimeDir);
}

std::vector<std::string_view> SplitEntries(std::string_view list) {
  std::vector<std::string_view> entries;
  while (!list.empty()) {
    const auto end = list.find(';');
    if (end != 0) {
      entries.push_back(list.substr(0, end));
    }
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
  }
  return entries;
}

}  // namespace

DisplayEnvironment ReadDisplayEnvironment() {
  return DisplayEnvironment{.qtPlatform = Variable("QT_QPA_PLATFORM"),
                            .display = Variable("DISPLAY"),
                            .waylandDisplay = Variable("WAYLAND_DISPLAY"),
                            .runtimeDir = Variable("XDG_RUNTIME_DIR")};
}

std::string ChoosePlatform(const DisplayEnvironment& environment) {
  std::vector<std::string_view> entries;
  if (!environment.qtPlatform.empty()) {
    for (const std::string_view entry : SplitEntries(environment.qtPlatform)) {
      if (!PluginName(entry).starts_with("wayland") || WaylandSocketLocatable(environment)) {
        entries.push_back(entry);
      }
    }
  } else {
    if (!environment.display.empty()) {
      entries.emplace_back("xcb");
    }
    if (!environment.waylandDisplay.empty() && WaylandSocketLocatable(environment)) {
      entries.emplace_back("wayland");
    }
  }
  if (entries.empty() || PluginName(entries.back()) != kOffscreen) {
    entries.push_back(kOffscreen);
  }

  std::string list;
  for (const std::string_view entry : entries) {
    if (!list.empty()) {
      list += ';';
    }
    list += entry;
  }
  return list;
}

}  // namespace korvani::startup
