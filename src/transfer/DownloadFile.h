#pragma once

#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Sha256.h"
#include "platform/Sound.h"
#include "transfer/ProgressView.h"

namespace korvani::transfer {

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
