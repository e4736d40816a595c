#pragma once

#include <string>

namespace korvani::window {
struct WindowServices;
}

namespace korvani::startup {

// The process's start: chooses Qt's platform, sets up the desktop services and
// runs StartUp with the whole command line. Always returns 0, and never aborts:
// the program reports nothing to whoever started it.
int Main(int argc, char** argv);

// Fixes the two settings from the argument text and loads the download window,
// whose load runs the whole visible run. If that run breaks off with the window
// still up, the user closes it; StartUp returns once no window is left.
void StartUp(const std::string& argumentText, const window::WindowServices& services);

}  // namespace korvani::startup
