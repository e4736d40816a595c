#pragma once

#include "platform/WindowStacking.h"
#include "transfer/DownloadFile.h"

namespace korvani::window {

// Everything the download window reaches outside itself.
struct WindowServices {
  transfer::TransferServices transfer;
  platform::WindowStacking& stacking;
};

}  // namespace korvani::window
