#include "startup/mod_Main.h"

#include <QApplication>
#include <vector>

#include "catalogue/PackageHostName.h"
#include "catalogue/SelectPackage.h"
#include "platform/Clock.h"
#include "platform/Confinement.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Sound.h"
#include "platform/WindowStacking.h"
#include "startup/CommandLine.h"
#include "startup/Display.h"
#include "startup/SilentOutput.h"
#include "window/frmDownload.h"

namespace korvani::startup {
namespace {

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
  // Before any thread (Landlock binds only the calling one) and any byte from the network.
  platform::ConfineToOwnFolder(catalogue::PackageScheme(), catalogue::PackageHostName());
  // Then, while this is still the only thread: the restart copies the environment.
  DisplayLoss displayLoss(argv);
  const std::vector<const char*> arguments(argv + std::min(argc, 1), argv + argc);
  const std::string argumentText = ArgumentText(arguments);

  // Qt reads its platform from here when QApplication starts, and no earlier.
  qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(ChoosePlatform(ReadDisplayEnvironment())));
  // The command line is ours alone: Qt would take "-platform", "-reverse", "-style"
  // and the like from it as its own options. Qt's settings come from the environment.
  char fallbackName[] = "korvani-download";
  char* qtArgv[] = {argc > 0 ? argv[0] : fallbackName, nullptr};
  int qtArgc = 1;
  QApplication application(qtArgc, qtArgv);
  displayLoss.WatchConnection();
  platform::SystemClock clock;
  // Where the thread sleeps until the network, a tone's end or the desktop needs it.
  platform::DesktopEventWait wait(clock);
  platform::CurlHttpClient http;
  platform::DesktopSound sound(wait);
  platform::LocalFileSystem files;
  platform::X11WindowStacking stacking;
  StartUp(argumentText,
          window::WindowServices{{http, sound, files, clock, wait}, stacking, &displayLoss});
  return 0;
}

}  // namespace korvani::startup
