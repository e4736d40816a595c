#include "transfer/DownloadFile.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>

#include "platform/Sha256.h"
#include "transfer/FileName.h"
#include "transfer/PacedRefresh.h"
#include "transfer/SizeText.h"

namespace korvani::transfer {

namespace {

constexpr std::size_t kReadSize = 8162;
constexpr char kAgent[] = "VB Program";
constexpr char kClientOpenError[] = "Error opening Internet connection";

// One call of DownloadFile: the view it writes to and the pacing of its repaints.
// The HTTP session sleeps in it, so that progress that pacing held back is painted
// once its frame is up, even while the server is silent.
class Fetch final : private platform::EventWait {
 public:
  Fetch(const TransferServices& services, ProgressView& view,
        const std::optional<Sha256Digest>& pin)
      : EventWait(services.clock),
        services_(services),
        view_(view),
        pin_(pin),
        pacing_(services.clock) {}

  // The byte count to report, or nothing when the caller's value stays.
  std::optional<double> Run(const std::string& url, const std::string& folder);
  // Paints the progress that pacing held back, so the view never ends behind
  // the transfer.
  void RepaintOwedProgress();

 private:
  void Wait(std::span<pollfd> watched, TimePoint deadline) override;
  void RepaintOwedProgressWhenDue();
  void ShowProgress(std::size_t bytesReceived);
  // The number of bytes received into `file`, or nothing when the transfer broke, the
  // file could not take them, or they are not the package that was pinned.
  std::optional<std::uint64_t> ReceiveBody(platform::UrlHandle& opened,
                                           platform::Replacement& file);

  const TransferServices& services_;
  ProgressView& view_;
  const std::optional<Sha256Digest>& pin_;
  PacedRefresh pacing_;
};

std::optional<double> Fetch::Run(const std::string& url, const std::string& folder) {
  const std::string fileName = FileNameForUrl(url, services_.clock.LocalNow());
  view_.lblFile().SetCaption(fileName);
  view_.lblFile().Refresh();
  if (!NamesFileInFolder(fileName)) {
    return 0.0;
  }

  const std::filesystem::path programFolder = services_.files.ProgramFolder();
  if (!services_.files.HoldsOrdinaryFile(programFolder / folder)) {
    return 0.0;
  }
  // The prefix is joined without a separator: a folder prefix ends with one.
  const std::filesystem::path destination = programFolder / (folder + fileName);

  view_.lblProgress().SetCaption(kConnectingText);
  view_.lblProgress().Refresh();

  // Before anything goes out: a folder that cannot take the package fails the fetch
  // here, not after the whole body has arrived.
  const std::unique_ptr<platform::Replacement> file = services_.files.BeginReplacement(destination);
  if (!file) {
    return 0.0;
  }

  // Declared in this order so that the URL closes before the session that opened it.
  const std::unique_ptr<platform::InternetHandle> session = services_.http.Open(kAgent, *this);
  if (!session) {
    view_.ShowMessage(kClientOpenError);
    return std::nullopt;
  }
  const std::unique_ptr<platform::UrlHandle> opened = session->OpenUrl(url);
  if (!opened) {
    return 0.0;
  }

  services_.sound.Beep(1500, 100);
  services_.sound.Beep(1800, 200);

  const std::optional<std::uint64_t> received = ReceiveBody(*opened, *file);
  if (!received || *received == 0 || !file->Commit()) {
    return 0.0;
  }
  return static_cast<double>(*received);
}

std::optional<std::uint64_t> Fetch::ReceiveBody(platform::UrlHandle& opened,
                                                platform::Replacement& file) {
  std::uint64_t received = 0;
  std::array<std::byte, kReadSize> buffer{};
  // Of the body so far, when it is pinned: each read is digested as it is appended, while
  // its bytes are still in the processor's cache.
  std::optional<platform::Sha256> digest;
  if (pin_) {
    digest.emplace();
  }
  for (;;) {
    ShowProgress(received);
    const platform::ReadResult read = opened.Read(buffer);
    switch (read.status) {
      case platform::ReadResult::Status::Data:
        if (read.count > buffer.size()) {
          throw std::length_error("read reported more bytes than the buffer holds");
        }
        received += read.count;
        if (digest) {
          digest->Update(std::span(buffer).first(read.count));
        }
        // A full disk ends the transfer at once: the rest of the body is not wanted.
        if (!file.Append(std::span(buffer).first(read.count))) {
          RepaintOwedProgress();
          return std::nullopt;
        }
        break;
      case platform::ReadResult::Status::End:
        RepaintOwedProgress();
        // Whatever else answered with a 200 (a captive portal's sign-in page, a broken
        // mirror's copy, someone's substitute on the way) is not the package.
        if (digest && digest->Finish() != *pin_) {
          return std::nullopt;
        }
        return received;
      case platform::ReadResult::Status::Failed:
        RepaintOwedProgress();
        return std::nullopt;
    }
  }
}

void Fetch::Wait(std::span<pollfd> watched, TimePoint deadline) {
  // A server that falls silent leaves the last bytes it sent on screen, not the
  // progress that pacing last let through: the sleep ends when that repaint is due.
  RepaintOwedProgressWhenDue();
  if (const std::optional<TimePoint> due = pacing_.UnpaintedDue()) {
    deadline = std::min(deadline, *due);
  }
  services_.wait.Wait(watched, deadline);
  RepaintOwedProgressWhenDue();
}

void Fetch::RepaintOwedProgressWhenDue() {
  const std::optional<TimePoint> due = pacing_.UnpaintedDue();
  if (due && *due <= Now()) {
    RepaintOwedProgress();
  }
}

void Fetch::ShowProgress(std::size_t bytesReceived) {
  const bool repaint = pacing_.RepaintNow();
  view_.lblProgress().SetCaption(DownloadingText(bytesReceived));
  if (repaint) {
    view_.lblProgress().Refresh();
  }
  view_.pgbDownload().SetValue(BarKilobytes(bytesReceived));
  if (repaint) {
    view_.pgbDownload().Refresh();
    view_.ServeDesktopRequests();
  }
}

void Fetch::RepaintOwedProgress() {
  if (pacing_.TakeUnpainted()) {
    view_.lblProgress().Refresh();
    view_.pgbDownload().Refresh();
  }
}

}  // namespace

void DownloadFile(const TransferServices& services, const std::string& pstrURL,
                  double& pdblFileSize, const std::string& pstrFolder, ProgressView& pfrmProgress,
                  const std::optional<Sha256Digest>& pin) {
  Fetch fetch(services, pfrmProgress, pin);
  try {
    if (const std::optional<double> byteCount = fetch.Run(pstrURL, pstrFolder)) {
      pdblFileSize = *byteCount;
    }
  } catch (...) {
    // The handles and the unfinished file are gone with the stack; what is left is to
    // report the failure and leave the view showing where the transfer stopped.
    pdblFileSize = 0;
    try {
      fetch.RepaintOwedProgress();
    } catch (...) {
      // A view that cannot repaint has nothing more to show.
    }
  }
}

}  // namespace korvani::transfer
