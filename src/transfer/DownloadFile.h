#pragma once

#include <optional>
#include <string>

#include "catalogue/Sha256Digest.h"
#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Sound.h"

namespace korvani::transfer {

// A label the fetch writes to. Like the bar, it shows a new caption only when it is
// refreshed, so that the fetch's pacing decides how often it is painted (the fetch's
// waits process events, and would paint any change they find).
class Caption {
 public:
  virtual ~Caption() = default;
  virtual void SetCaption(const std::string& text) = 0;
  // Shows the caption last set and repaints at once.
  virtual void Refresh() = 0;
};

// The bar the fetch moves; its range is the caller's business.
class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  virtual void SetValue(float kilobytes) = 0;
  // Shows the value last set and repaints at once.
  virtual void Refresh() = 0;
};

// Where the fetch shows what it is doing: the download window in the program,
// a recording fake in tests.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual Caption& lblFile() = 0;
  virtual Caption& lblProgress() = 0;
  virtual ProgressBar& pgbDownload() = 0;
  // A modal message with an OK button only, no icon; returns once it is closed.
  virtual void ShowMessage(const std::string& text) = 0;
  // Lets the desktop's requests that are already pending through (repaints of
  // uncovered parts, pings from the window manager, accessibility queries), but
  // no user input. The fetch calls it with each repaint, so that a transfer too
  // fast ever to wait for the server still leaves the window served.
  virtual void ServeDesktopRequests() = 0;
};

// The desktop services a fetch uses. `wait` is where the thread sleeps while the
// server keeps it waiting; it must run on `clock`, the time base of every deadline
// the fetch hands it, the pacing of its repaints included.
struct TransferServices {
  platform::HttpClient& http;
  platform::Sound& sound;
  platform::FileSystem& files;
  const platform::Clock& clock;
  platform::EventWait& wait;
};

// Fetches pstrURL into the program's folder (plus pstrFolder, joined to the
// file name without a separator) while it shows progress in pfrmProgress.
// Leaves the number of bytes saved in pdblFileSize, or 0 when nothing was saved;
// the caller presets it to 0. With a pin, a body whose SHA-256 differs is not saved:
// the fetch fails and the old file stays.
void DownloadFile(const TransferServices& services, const std::string& pstrURL,
                  double& pdblFileSize, const std::string& pstrFolder, ProgressView& pfrmProgress,
                  const std::optional<Sha256Digest>& pin = std::nullopt);

}  // namespace korvani::transfer
