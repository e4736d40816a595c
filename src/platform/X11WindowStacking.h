#pragma once

#include "platform/WindowStacking.h"

namespace korvani::platform {

// Asks the X11 window manager for the "above" state (_NET_WM_STATE_ABOVE), the
// way a client changes the state of a window that is already mapped. Does
// nothing where the display is not X11.
class X11WindowStacking final : public WindowStacking {
 public:
  void SetTopmost(WId window, bool topmost) override;
};

}  // namespace korvani::platform
