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

}  // namespace korvani::platform
