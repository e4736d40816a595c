// fetch_bench [--in-process] URL BYTES FOLDER [SHA256]
//
// Times one fetch of URL, from the call of DownloadFile to its return, the way the
// program makes it: the fetcher forked first and confined, the download window shown and
// exposed on the X display, its bar's range set to the body, the progress painted into
// it; the local file system and the system clock as in the program. With --in-process,
// libcurl runs in this process instead, as it did before the fetcher was apart. The tones are left
// out (Beep does nothing), and the program's folder is a fresh folder under FOLDER, removed
// afterwards. With SHA256 the body is pinned to it, as a packager's build pins its packages.
//
// Prints one line of figures:
//   fetch_s=… cpu_s=… bytes=… idle_kib=… hwm_before_kib=… peak_kib=…
//   fetcher_idle_kib=… fetcher_peak_kib=…
// idle_kib is the resident memory just before the call (VmRSS), peak_kib the most
// resident at any time up to its return (VmHWM); one fetch per process, so the peak
// is this fetch's. The fetcher's are the same of the fetcher (0 in process). Exits 1, saying why,
// unless exactly BYTES bytes were saved.

#include <QApplication>
#include <QWindow>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProcessMemory.h"
#include "catalogue/Sha256Digest.h"
#include "platform/ChannelHttpClient.h"
#include "platform/Clock.h"
#include "platform/Confinement.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Sound.h"
#include "platform/WindowStacking.h"
#include "startup/FetcherProcess.h"
#include "transfer/DownloadFile.h"
#include "window/EventPump.h"
#include "window/ProgressControls.h"
#include "window/frmDownload.h"

namespace {

using korvani::bench::ProcessMemory;
using korvani::bench::ReadProcessMemory;

constexpr std::chrono::milliseconds kExposeDeadline{5000};
constexpr std::chrono::milliseconds kSettleTime{100};

// The tones take a fixed 300 ms that says nothing about the fetch.
class NoTones final : public korvani::platform::Sound {
 public:
  void Beep(int /*frequencyHz*/, int /*durationMs*/) override {}
  void DefaultBeep() override {}
};

// A fresh folder that holds one ordinary file, as the program's folder holds the
// program: the fetch saves only into a folder that holds one.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::filesystem::path& parent) {
    std::string pattern = (parent / "fetch_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a folder under " + parent.string());
    }
    path_ = pattern;
    std::ofstream(path_ / "korvani-download") << "stands in for the program\n";
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& Path() const { return path_; }

  // The size of the one file the fetch saved, or -1 when there is none.
  std::intmax_t SavedBytes() const {
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      if (entry.path().filename() != "korvani-download") {
        return static_cast<std::intmax_t>(entry.file_size());
      }
    }
    return -1;
  }

 private:
  std::filesystem::path path_;
};

// The port an http://host:port/ URL names; nothing when it names none.
std::optional<std::uint16_t> PortOf(const std::string& url) {
  const auto host = url.find("://");
  const auto colon = url.find(':', host + 3);
  const auto slash = url.find('/', host + 3);
  if (host == std::string::npos || colon == std::string::npos || colon > slash) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(std::stoi(url.substr(colon + 1, slash - colon - 1)));
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool ShowAndAwaitExposure(QWidget& window) {
  window.show();
  const auto deadline = std::chrono::steady_clock::now() + kExposeDeadline;
  while (!window.windowHandle()->isExposed()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    korvani::window::ProcessEventsWaiting(QEventLoop::AllEvents, left);
  }
  // The first paint and the window manager's own traffic happen before the clock starts.
  korvani::window::ProcessEventsWaiting(QEventLoop::AllEvents, kSettleTime);
  QCoreApplication::processEvents();
  return true;
}

int Run(bool inProcess, const std::vector<char*>& arguments, int argc, char** argv) {
  const std::string url = arguments[0];
  const std::intmax_t expectedBytes = std::stoll(arguments[1]);
  const ScratchFolder folder(arguments[2]);
  std::optional<korvani::Sha256Digest> sha256;
  if (arguments.size() == 4) {
    sha256 = korvani::Sha256FromHex(arguments[3]);
    if (!sha256) {
      std::cerr << "fetch_bench: the pin is not 64 hex digits: " << arguments[3] << '\n';
      return 2;
    }
  }

  // As the program does: before Qt and any thread, the fetcher forked and confined.
  const korvani::platform::CurlTimeouts timeouts;
  std::optional<korvani::startup::FetcherProcess> fetcher;
  std::unique_ptr<korvani::platform::HttpClient> http;
  if (inProcess) {
    http = std::make_unique<korvani::platform::CurlHttpClient>(timeouts);
  } else {
    fetcher.emplace(korvani::platform::ReadConfinementInputs("http", PortOf(url)), timeouts);
    http = std::make_unique<korvani::platform::ChannelHttpClient>(fetcher->TakeChannel(),
                                                                  timeouts.connect + timeouts.idle);
  }
  const std::optional<int> fetcherProcess = korvani::bench::OnlyChild();
  const std::string fetcherName = std::to_string(fetcherProcess.value_or(0));
  if (!inProcess && !fetcherProcess) {
    std::cerr << "fetch_bench: no fetcher\n";
    return 1;
  }

  QApplication application(argc, argv);
  NoTones sound;
  korvani::platform::LocalFileSystem files(folder.Path());
  korvani::platform::SystemClock clock;
  korvani::platform::X11WindowStacking stacking;
  korvani::platform::DesktopEventWait wait(clock);
  const korvani::transfer::TransferServices services{*http, sound, files, clock, wait};
  korvani::window::frmDownload form(korvani::window::WindowServices{services, stacking});
  // As the program's run does before it fetches: the bar spans the expected size.
  dynamic_cast<korvani::window::KilobyteBar&>(form.pgbDownload())
      .SetMax(static_cast<float>(expectedBytes) / 1024.0F);
  if (!ShowAndAwaitExposure(form)) {
    std::cerr << "fetch_bench: the window was not exposed within " << kExposeDeadline.count()
              << " ms\n";
    return 1;
  }

  const std::optional<ProcessMemory> idle = ReadProcessMemory();
  const std::optional<ProcessMemory> fetcherIdle =
      inProcess ? ProcessMemory{} : ReadProcessMemory(fetcherName.c_str());
  const double cpuBefore = ProcessCpuSeconds();
  double byteCount = 0;
  const auto start = std::chrono::steady_clock::now();
  korvani::transfer::DownloadFile(services, url, byteCount, "", form, sha256);
  const auto end = std::chrono::steady_clock::now();
  const double cpuAfter = ProcessCpuSeconds();
  const std::optional<ProcessMemory> peak = ReadProcessMemory();
  const std::optional<ProcessMemory> fetcherPeak =
      inProcess ? ProcessMemory{} : ReadProcessMemory(fetcherName.c_str());

  if (!idle || !peak || !fetcherIdle || !fetcherPeak) {
    std::cerr << "fetch_bench: cannot read the processes' status\n";
    return 1;
  }
  const std::intmax_t saved = folder.SavedBytes();
  if (static_cast<std::intmax_t>(byteCount) != expectedBytes || saved != expectedBytes) {
    std::cerr << "fetch_bench: expected " << expectedBytes << " bytes, the fetch reported "
              << byteCount << " and saved " << saved << '\n';
    return 1;
  }
  std::printf(
      "fetch_s=%.6f cpu_s=%.6f bytes=%jd idle_kib=%ju hwm_before_kib=%ju peak_kib=%ju "
      "fetcher_idle_kib=%ju fetcher_peak_kib=%ju\n",
      std::chrono::duration<double>(end - start).count(), cpuAfter - cpuBefore, expectedBytes,
      static_cast<std::uintmax_t>(idle->residentKib),
      static_cast<std::uintmax_t>(idle->peakResidentKib),
      static_cast<std::uintmax_t>(peak->peakResidentKib),
      static_cast<std::uintmax_t>(fetcherIdle->residentKib),
      static_cast<std::uintmax_t>(fetcherPeak->peakResidentKib));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> arguments(argv + 1, argv + argc);
  const bool inProcess = !arguments.empty() && std::string(arguments[0]) == "--in-process";
  if (inProcess) {
    arguments.erase(arguments.begin());
  }
  if (arguments.size() != 3 && arguments.size() != 4) {
    std::cerr << "usage: fetch_bench [--in-process] URL BYTES FOLDER [SHA256]\n";
    return 2;
  }
  try {
    return Run(inProcess, arguments, argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "fetch_bench: " << error.what() << '\n';
    return 1;
  }
}
