#include "startup/mod_Main.h"

#include <QApplication>
#include <vector>

#include "platform/CurlHttpClient.h"
#include "platform/DesktopSound.h"
#include "platform/LocalFileSystem.h"
#include "platform/SystemClock.h"
#include "platform/X11WindowStacking.h"
#include "startup/CommandLine.h"
#include "window/frmDownload.h"

namespace korvani::startup {
namespace {

// The program prints nothing, Qt's own warnings included.
void DiscardMessage(QtMsgType /*type*/, const QMessageLogContext& /*context*/,
                    const QString& /*message*/) {}

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
  // Taken before QApplication, which removes the arguments it understands.
  const std::vector<const char*> arguments(argv + std::min(argc, 1), argv + argc);
  const std::string argumentText = ArgumentText(arguments);

  QApplication application(argc, argv);
  platform::CurlHttpClient http;
  platform::DesktopSound sound;
  platform::LocalFileSystem files;
  platform::SystemClock clock;
  platform::X11WindowStacking stacking;
  StartUp(argumentText, window::WindowServices{{http, sound, files, clock}, stacking});
  return 0;
}

}  // namespace korvani::startup
