#pragma once

#include <QtGui/qwindowdefs.h>

namespace korvani::platform {

// Keeps a top-level window above all others, through the window manager.
class WindowStacking {
 public:
  virtual ~WindowStacking() = default;
  // Adds or removes the "always on top" state of a shown window without
  // moving, resizing or re-creating it. Failures are not reported.
  virtual void SetTopmost(WId window, bool topmost) = 0;
};

// Asks the X11 window manager for the "above" state (_NET_WM_STATE_ABOVE), the
// way a client changes the state of a window that is already mapped. Does
// nothing where the display is not X11.
class X11WindowStacking final : public WindowStacking {
 public:
  void SetTopmost(WId window, bool topmost) override;
};

}  // namespace korvani::platform
