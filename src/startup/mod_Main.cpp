#include "startup/mod_Main.h"

#include <QtGui/qguiapplication_platform.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QThread>
#include <cstdlib>
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
#include "startup/PlatformChoice.h"
#include "window/frmDownload.h"

namespace korvani::startup {
namespace {

// The program's own command line, for a run that starts over.
char** gArguments = nullptr;
// The window while it runs its load, for a message that comes meanwhile.
const window::frmDownload* gLoadingWindow = nullptr;

// True when Qt's connection to the X server has broken: the server went away.
bool DisplayConnectionBroke() {
  const auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 != nullptr && x11->connection() != nullptr &&
         xcb_connection_has_error(x11->connection()) != 0;
}

// Qt's X11 platform meets a broken connection to the X server with a warning and then
// exit(1) (QXcbConnection::processXcbEvents when it next looks at the server's events,
// and the I/O error handler it gives Xlib): the package would be lost and the status
// 1. The warning comes here first, on the thread that runs the window, which returns
// to Qt only to be ended. So the run ends here instead, as if the window were gone.
// Once the fetch has returned, the package is saved or not, and the pause ends at
// once. Before, the run starts over unseen: the program replaces itself, in the same
// process, with a run of the same command line on the offscreen platform, which no
// display can break; the descriptors of this run (its connections, its unfinished
// file) close with the exec. Whoever waits for the process sees one run end with 0.
[[noreturn]] void OutliveTheDisplay() {
  if (gLoadingWindow != nullptr && !gLoadingWindow->HasFetched() && gArguments != nullptr) {
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execv("/proc/self/exe", gArguments);
  }
  std::_Exit(0);
}

// The program prints nothing, Qt's own warnings included.
void DiscardMessage(QtMsgType type, const QMessageLogContext& /*context*/,
                    const QString& /*message*/) {
  // Qt aborts after a fatal message, for instance when no platform in the list can
  // start. The program reports nothing to whoever started it, so it ends as quietly
  // as after any other run.
  if (type == QtFatalMsg) {
    std::_Exit(0);
  }
  const QCoreApplication* application = QCoreApplication::instance();
  if (type == QtWarningMsg && application != nullptr &&
      QThread::currentThread() == application->thread() && DisplayConnectionBroke()) {
    OutliveTheDisplay();
  }
}

void RunWindow(const window::WindowServices& services) {
  window::frmDownload form(services);
  gLoadingWindow = &form;
  try {
    form.Load();
  } catch (...) {
    // The run broke off; the window stays as it was for the user to close.
  }
  gLoadingWindow = nullptr;
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
  // Before any thread (Landlock binds only the calling one) and any byte from the network.
  platform::ConfineToOwnFolder(catalogue::PackageScheme(), catalogue::PackageHostName());
  gArguments = argv;
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
