#pragma once

#include <string>

namespace korvani::startup {

// What the choice of Qt's platform depends on, as the environment gives it.
struct DisplayEnvironment {
  std::string qtPlatform{};      // QT_QPA_PLATFORM: the user's own choice
  std::string display{};         // DISPLAY: an X server, XWayland included
  std::string waylandDisplay{};  // WAYLAND_DISPLAY: a socket name or an absolute path
  std::string runtimeDir{};      // XDG_RUNTIME_DIR: where a socket name is looked up
};

DisplayEnvironment ReadDisplayEnvironment();

// The value for QT_QPA_PLATFORM: a list of platforms separated by ';', which Qt
// tries in turn until one starts.
// - The user's own list stands, except Wayland entries where no Wayland socket
//   can be located (libwayland would complain on stderr).
// - Otherwise X (xcb) where there is an X display, since the window manager keeps
//   only an X11 window on top, then Wayland where there is a Wayland display.
// - Always "offscreen" last: it starts anywhere, so that without a display the
//   run still takes place, unseen, and Qt never gives up on the process.
std::string ChoosePlatform(const DisplayEnvironment& environment);

}  // namespace korvani::startup
