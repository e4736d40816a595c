#include "startup/Display.h"

#include <QtGui/qguiapplication_platform.h>
#include <fcntl.h>
#include <qpa/qplatformnativeinterface.h>
#include <unistd.h>
#include <wayland-client-core.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"
#include "startup/SilentOutput.h"

namespace korvani::startup {
namespace {

constexpr std::string_view kOffscreen = "offscreen";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The plugin an entry names, without its arguments ("xcb:arg=1" names "xcb").
std::string_view PluginName(std::string_view entry) {
  return entry.substr(0, entry.find(':'));
}

bool IsAbsolute(const std::string& path) {
  return !path.empty() && path.front() == '/';
}

// Where libwayland can find a socket without reporting on stderr that it cannot.
bool WaylandSocketLocatable(const DisplayEnvironment& environment) {
  return IsAbsolute(environment.waylandDisplay) || IsAbsolute(environment.runtimeDir);
}

std::vector<std::string_view> SplitEntries(std::string_view list) {
  std::vector<std::string_view> entries;
  while (!list.empty()) {
    const auto end = list.find(';');
    if (end != 0) {
      entries.push_back(list.substr(0, end));
    }
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
  }
  return entries;
}

}  // namespace

DisplayEnvironment ReadDisplayEnvironment() {
  return DisplayEnvironment{.qtPlatform = Variable("QT_QPA_PLATFORM"),
                            .display = Variable("DISPLAY"),
                            .waylandDisplay = Variable("WAYLAND_DISPLAY"),
                            .runtimeDir = Variable("XDG_RUNTIME_DIR")};
}

std::string ChoosePlatform(const DisplayEnvironment& environment) {
  std::vector<std::string_view> entries;
  if (!environment.qtPlatform.empty()) {
    for (const std::string_view entry : SplitEntries(environment.qtPlatform)) {
      if (!PluginName(entry).starts_with("wayland") || WaylandSocketLocatable(environment)) {
        entries.push_back(entry);
      }
    }
  } else {
    if (!environment.display.empty()) {
      entries.emplace_back("xcb");
    }
    if (!environment.waylandDisplay.empty() && WaylandSocketLocatable(environment)) {
      entries.emplace_back("wayland");
    }
  }
  if (entries.empty() || PluginName(entries.back()) != kOffscreen) {
    entries.push_back(kOffscreen);
  }

  std::string list;
  for (const std::string_view entry : entries) {
    if (!list.empty()) {
      list += ';';
    }
    list += entry;
  }
  return list;
}

namespace {

// Tells the restart from the run it replaces.
constexpr std::string_view kRestartMarker = "KORVANI_DISPLAY_LOST=1";
constexpr std::string_view kOffscreenPlatform = "QT_QPA_PLATFORM=offscreen";

// The one watcher, for the message handler; set while a DisplayLoss lives.
std::atomic<const DisplayLoss*> gWatcher{nullptr};

bool IsVariable(std::string_view variable, std::string_view assignment) {
  const std::string_view name = assignment.substr(0, assignment.find('=') + 1);
  return variable.starts_with(name);
}

}  // namespace

bool IsDisplayLossRestart() {
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::string_view(*variable) == kRestartMarker) {
      return true;
    }
  }
  return false;
}

DisplayLoss::DisplayLoss(char** arguments, const std::string& fetcherVariable, int fetcherControl)
    : arguments_(arguments), fetcherControl_(fetcherControl), isRestart_(IsDisplayLossRestart()) {
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text(*variable);
    if (!IsVariable(text, kOffscreenPlatform) && !IsVariable(text, kRestartMarker) &&
        (fetcherVariable.empty() || !IsVariable(text, fetcherVariable))) {
      restartVariables_.emplace_back(text);
    }
  }
  restartVariables_.emplace_back(kOffscreenPlatform);
  restartVariables_.emplace_back(kRestartMarker);
  if (!fetcherVariable.empty()) {
    restartVariables_.push_back(fetcherVariable);
  }
  for (std::string& variable : restartVariables_) {
    restartEnvironment_.push_back(variable.data());
  }
  restartEnvironment_.push_back(nullptr);
  gWatcher = this;
  qInstallMessageHandler(&DisplayLoss::HandleMessage);
}

DisplayLoss::~DisplayLoss() {
  qInstallMessageHandler(nullptr);
  gWatcher = nullptr;
}

void DisplayLoss::WatchConnection() {
  if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
    xcbConnection_ = x11->connection();
  }
  // Qt 6.5 hands the connection out as QNativeInterface::QWaylandApplication::display().
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (native != nullptr && QGuiApplication::platformName().startsWith("wayland")) {
    waylandDisplay_ = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
  }
}

void DisplayLoss::FetchReturned() {
  fetchReturned_ = true;
}

// Both checks are safe on any thread: xcb reads a flag, libwayland takes its own lock.
bool DisplayLoss::ConnectionBroke() const {
  xcb_connection_t* const x11 = xcbConnection_;
  wl_display* const wayland = waylandDisplay_;
  return (x11 != nullptr && xcb_connection_has_error(x11) != 0) ||
         (wayland != nullptr && wl_display_get_error(wayland) != 0);
}

// Qt's X11 platform ends the process with exit(1) after its warning (QXcbConnection, when
// it next looks at the server's events, and the I/O error handler it gives Xlib) on the
// thread that runs the window. Its Wayland platform ends it with _exit(1) on the thread
// that reads the compositor's events: that thread, which QWaylandDisplay starts, meets
// the broken socket and calls checkWaylandError (qwaylanddisplay.cpp), which warns and
// exits.
// The run ends here instead, before Qt's end comes. A second thread that meets the break
// meanwhile waits in AbandonUnfinishedFiles until the first one's end takes it along.
void DisplayLoss::EndRun() const {
  // The package may have been put in place an instant before the fetch returned: the
  // rename and this check share a lock, so a published package is never fetched again.
  const bool published = platform::AbandonUnfinishedFiles();
  if (!published && !fetchReturned_ && !isRestart_) {
    // The descriptors of this run (its connections, its unfinished file, the reply of the
    // fetch under way) close with the exec, Qt's included, which not all ask for that
    // themselves. The fetcher's control socket stays, for the restart to use.
    if (fetcherControl_ >= 3) {
      ::close_range(3, fetcherControl_ - 1, CLOSE_RANGE_CLOEXEC);
      ::fcntl(fetcherControl_, F_SETFD, 0);
      ::close_range(fetcherControl_ + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    } else {
      ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    }
    RestoreErrorsForExec();
    ::execve("/proc/self/exe", arguments_, restartEnvironment_.data());
  }
  std::_Exit(0);
}

// The program prints nothing, Qt's own warnings included.
void DisplayLoss::HandleMessage(QtMsgType type, const QMessageLogContext& /*context*/,
                                const QString& /*message*/) {
  // Whatever the message's type: older versions of Qt's Wayland platform report the
  // broken connection as a fatal message.
  if (const DisplayLoss* watcher = gWatcher; watcher != nullptr && watcher->ConnectionBroke()) {
    watcher->EndRun();
  }
  // Qt aborts after a fatal message, for instance when no platform in the list can
  // start. The program reports nothing to whoever started it, so it ends as quietly
  // as after any other run.
  if (type == QtFatalMsg) {
    platform::AbandonUnfinishedFiles();
    std::_Exit(0);
  }
}

}  // namespace korvani::startup
