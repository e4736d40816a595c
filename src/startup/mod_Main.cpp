#include "startup/mod_Main.h"

#include <QApplication>
#include <cstdlib>
#include <vector>

#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Sound.h"
#include "platform/WindowStacking.h"
#include "startup/CommandLine.h"
#include "startup/PlatformChoice.h"
#include "window/frmDownload.h"

namespace korvani::startup {
namespace {

// The program prints nothing, Qt's own warnings included.
void DiscardMessage(QtMsgType type, const QMessageLogContext& /*context*/,
                    const QString& /*message*/) {
  // Qt aborts after a fatal message, for instance when no platform in the list can
  // start. The program reports nothing to whoever started it, so it ends as quietly
  // as after any other run.
  if (type == QtFatalMsg) {
    std::_Exit(0);
  }
}

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
  qInstallMessageHandler(DiscardMessage);
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
  platform::SystemClock clock;
  // Where the thread sleeps until the network, a tone's end or the desktop needs it.
  platform::DesktopEventWait wait(clock);
  platform::CurlHttpClient http;
  platform::DesktopSound sound(wait);
  platform::LocalFileSystem files;
  platform::X11WindowStacking stacking;
  StartUp(argumentText, window::WindowServices{{http, sound, files, clock, wait}, stacking});
  return 0;
}

}  // namespace korvani::startup
