#include "startup/mod_Main.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/PackageHostName.h"
#include "catalogue/SelectPackage.h"
#include "platform/ChannelHttpClient.h"
#include "platform/Clock.h"
#include "platform/Confinement.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Sound.h"
#include "platform/WindowStacking.h"
#include "startup/CommandLine.h"
#include "startup/Display.h"
#include "startup/FetcherProcess.h"
#include "startup/SilentOutput.h"
#include "window/frmDownload.h"

// The build switch of the benchmarks' yardstick: 0 runs libcurl in the window's process, as
// the program did before the fetcher was apart.
#ifndef KORVANI_FETCHER_APART
#define KORVANI_FETCHER_APART 1
#endif

namespace korvani::startup {
namespace {

// What the fetcher may take beyond its own time-outs to say it gave up.
constexpr std::chrono::seconds kFetcherGrace{5};

void RunWindow(const window::WindowServices& services) {
  window::frmDownload form(services);
  try {
    form.Load();
  } catch (...) {
    // The run broke off; the window stays as it was for the user to close.
  }
  if (form.IsLoaded()) {
    QApplication::exec();
  }
}

void RunApplication(int argc, char** argv, const std::string& argumentText,
                    platform::UniqueFd channel, const platform::CurlTimeouts& timeouts,
                    DisplayLoss* displayLoss) {
  // Qt reads its platform from here when QApplication starts, and no earlier.
  qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(ChoosePlatform(ReadDisplayEnvironment())));
  // The command line is ours alone: Qt would take "-platform", "-reverse", "-style"
  // and the like from it as its own options. Qt's settings come from the environment.
  char fallbackName[] = "korvani-download";
  char* qtArgv[] = {argc > 0 ? argv[0] : fallbackName, nullptr};
  int qtArgc = 1;
  QApplication application(qtArgc, qtArgv);
  if (displayLoss != nullptr) {
    displayLoss->WatchConnection();
  }
  platform::SystemClock clock;
  // Where the thread sleeps until the fetcher, a tone's end or the desktop needs it.
  platform::DesktopEventWait wait(clock);
  std::unique_ptr<platform::HttpClient> http;
  if constexpr (KORVANI_FETCHER_APART) {
    // The fetcher answers within its own time-outs; past them, it is not to be trusted.
    http = std::make_unique<platform::ChannelHttpClient>(
        std::move(channel), timeouts.connect + timeouts.idle + kFetcherGrace);
  } else {
    http = std::make_unique<platform::CurlHttpClient>(timeouts);
  }
  platform::DesktopSound sound(wait);
  platform::LocalFileSystem files;
  platform::X11WindowStacking stacking;
  StartUp(argumentText,
          window::WindowServices{{*http, sound, files, clock, wait}, stacking, displayLoss});
}

}  // namespace

void StartUp(const std::string& argumentText, const window::WindowServices& services) {
  try {
    FixSettings(argumentText);
  } catch (...) {
    // Out of memory while splitting: the defaults stand, the window still loads.
  }
  try {
    RunWindow(services);
  } catch (...) {
    // Whatever the load reports, start-up ends normally.
  }
}

int Main(int argc, char** argv) {
  // Before any library is loaded or started that might print.
  SilenceOutput();
  // Everything up to the run's own try block is guarded step by step: start-up never
  // aborts, and a step that fails leaves the run to go on without it.
  platform::ConfinementInputs confinement;
  try {
    const std::string host = catalogue::PackageHostName();
    confinement = platform::ReadConfinementInputs(catalogue::PackageScheme(),
                                                  catalogue::PortOfHostName(host));
  } catch (...) {
    // Out of memory: the processes confine themselves with what could be read.
  }
  const platform::CurlTimeouts timeouts;
  // Before any thread and any connection to the desktop, so that the fetcher is forked
  // holding neither; and before the window's process confines itself, so that the
  // fetcher's confinement is its own and not nested in the window's.
  std::optional<FetcherProcess> fetcher;
  if constexpr (KORVANI_FETCHER_APART) {
    fetcher.emplace(confinement, timeouts);
  }
  // Before any thread (Landlock binds only the calling one) and any byte from the network.
  try {
    platform::ConfineWindowProcess(confinement);
  } catch (...) {
    // Out of memory while the rules were made: the window's process runs as it would on
    // a kernel without Landlock.
  }
  // Then, while this is still the only thread: the restart copies the environment.
  std::optional<DisplayLoss> displayLoss;
  std::string argumentText;
  try {
    displayLoss.emplace(argv, fetcher ? fetcher->InheritanceVariable() : std::string(),
                        fetcher ? fetcher->Control() : -1);
    const std::vector<const char*> arguments(argv + std::min(argc, 1), argv + argc);
    argumentText = ArgumentText(arguments);
  } catch (...) {
    // Out of memory: no restart after display loss, and the defaults stand.
  }
  try {
    RunApplication(argc, argv, argumentText,
                   fetcher ? fetcher->TakeChannel() : platform::UniqueFd(), timeouts,
                   displayLoss ? &*displayLoss : nullptr);
  } catch (...) {
    // Whatever Qt or the window reports, the program ends as quietly as after any run.
  }
  return 0;
}

}  // namespace korvani::startup
