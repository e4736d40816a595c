#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Xlib's display, declared here so that Xlib's macros stay out of the tests.
struct _XDisplay;

namespace korvani::e2e {

// An X window's id, as xdotool prints it.
using XWindow = unsigned long;

// What the screen showed over a window's client area, one 0xRRGGBB per pixel.
struct ScreenShot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// Another client of the test's X server ($DISPLAY), doing to the program's window
// what the window manager and other programs do to it.
class X11Client {
 public:
  X11Client();
  bool IsOpen() const { return display_ != nullptr; }

  // Sends `window` a _NET_WM_PING as a window manager does and waits up to
  // `deadline` for the answer on the root window. Returns how long the answer
  // took, or nothing when none came in time.
  std::optional<std::chrono::milliseconds> Ping(XWindow window, std::chrono::milliseconds deadline);

  // True while `window` is mapped and shows on the screen.
  bool Shows(XWindow window);

  // What the screen shows over the client area of `window`; empty when the
  // window is gone.
  ScreenShot Shot(XWindow window);

  // Puts a window of this client, filled with `rgb` and left unmanaged like a
  // menu, over the client area of `window` and returns once it shows.
  XWindow Cover(XWindow window, std::uint32_t rgb);
  // Takes that window away again; the program's window is then exposed.
  void Uncover(XWindow cover);

 private:
  struct Closer {
    void operator()(_XDisplay* display) const;
  };

  // Waits up to `deadline` for an event that `wanted` accepts; drops the others.
  template <typename Wanted>
  bool AwaitEvent(std::chrono::steady_clock::time_point deadline, Wanted wanted);

  std::unique_ptr<_XDisplay, Closer> display_;
  XWindow root_ = 0;
  unsigned long protocols_ = 0;  // atoms
  unsigned long ping_ = 0;
  long stamp_ = 0;
};

}  // namespace korvani::e2e
