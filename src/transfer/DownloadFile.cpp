#include "transfer/DownloadFile.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "transfer/FileName.h"
#include "transfer/PacedRefresh.h"
#include "transfer/ProgressText.h"

namespace korvani::transfer {

namespace {

constexpr std::size_t kReadSize = 8162;
constexpr char kAgent[] = "VB Program";
constexpr char kClientOpenError[] = "Error opening Internet connection";
// An announced length is only a hint for the first allocation: a server that
// announces far more than it sends must not make us claim that much at once.
constexpr std::uint64_t kLargestReservation = std::uint64_t{512} * 1024 * 1024;
// Desktops take a window that leaves a ping unanswered for a few seconds for a hung
// one; half the 100 ms that the window may go unserved while the server is silent.
constexpr std::chrono::milliseconds kServeWhileWaiting{50};

using Body = std::vector<std::byte>;

void ReserveForAnnouncedLength(Body& body, std::optional<std::uint64_t> announced) {
  if (!announced) {
    return;
  }
  // A reservation that cannot be had costs only the head start: the body still
  // grows as it arrives.
  try {
    body.reserve(static_cast<std::size_t>(std::min(*announced, kLargestReservation)));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
}

// One call of DownloadFile: the view it writes to and the pacing of its repaints.
class Fetch {
 public:
  Fetch(const TransferServices& services, ProgressView& view)
      : services_(services), view_(view), pacing_(services.clock) {}

  // The byte count to report, or nothing when the caller's value stays.
  std::optional<double> Run(const std::string& url, const std::string& folder);
  // Paints the progress that pacing held back, so the view never ends behind
  // the transfer.
  void RepaintOwedProgress();

 private:
  void ShowProgress(std::size_t bytesReceived);
  // The whole body, or nothing when the transfer broke.
  std::optional<Body> ReceiveBody(platform::UrlHandle& opened);

  const TransferServices& services_;
  ProgressView& view_;
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

  // Declared in this order so that the URL closes before the session that opened it.
  const std::unique_ptr<platform::InternetHandle> session = services_.http.Open(kAgent);
  if (!session) {
    view_.ShowMessage(kClientOpenError);
    return std::nullopt;
  }
  session->WhileWaiting(kServeWhileWaiting, [this] { view_.ServeDesktopRequests(); });
  const std::unique_ptr<platform::UrlHandle> opened = session->OpenUrl(url);
  if (!opened) {
    return 0.0;
  }

  services_.sound.Beep(1500, 100);
  services_.sound.Beep(1800, 200);

  const std::optional<Body> body = ReceiveBody(*opened);
  if (!body || body->empty()) {
    return 0.0;
  }
  if (!services_.files.ReplaceFile(destination, *body)) {
    return 0.0;
  }
  return static_cast<double>(body->size());
}

std::optional<Body> Fetch::ReceiveBody(platform::UrlHandle& opened) {
  Body body;
  ReserveForAnnouncedLength(body, opened.AnnouncedLength());
  std::array<std::byte, kReadSize> buffer{};
  for (;;) {
    ShowProgress(body.size());
    const platform::ReadResult read = opened.Read(buffer);
    switch (read.status) {
      case platform::ReadResult::Status::Data:
        if (read.count > buffer.size()) {
          throw std::length_error("read reported more bytes than the buffer holds");
        }
        body.insert(body.end(), buffer.begin(),
                    buffer.begin() + static_cast<std::ptrdiff_t>(read.count));
        break;
      case platform::ReadResult::Status::End:
        RepaintOwedProgress();
        return body;
      case platform::ReadResult::Status::Failed:
        RepaintOwedProgress();
        return std::nullopt;
    }
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
                  double& pdblFileSize, const std::string& pstrFolder, ProgressView& pfrmProgress) {
  Fetch fetch(services, pfrmProgress);
  try {
    if (const std::optional<double> byteCount = fetch.Run(pstrURL, pstrFolder)) {
      pdblFileSize = *byteCount;
    }
  } catch (...) {
    // The handles and the body are gone with the stack; what is left is to
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
