#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "window/frmDownload.h"

struct xcb_connection_t;
struct wl_display;

// The display the window shows on: which of Qt's platforms the run starts on, and what
// becomes of the run when that display goes away.
namespace korvani::startup {

// What the choice of Qt's platform depends on, as the environment gives it.
struct DisplayEnvironment {
  std::string qtPlatform{};      // QT_QPA_PLATFORM: the user's own choice
  std::string display{};         // DISPLAY: an X server, XWayland included
  std::string waylandDisplay{};  // WAYLAND_DISPLAY: a socket name or an absolute path
  std::string runtimeDir{};      // XDG_RUNTIME_DIR: where a socket name is looked up
};

DisplayEnvironment ReadDisplayEnvironment();

// The value for QT_QPA_PLATFORM: a list of platforms separated by ';', which Qt
// tries in turn until one starts.
// - The user's own list stands, except Wayland entries where no Wayland socket
//   can be located (libwayland would complain on stderr).
// - Otherwise X (xcb) where there is an X display, since the window manager keeps
//   only an X11 window on top, then Wayland where there is a Wayland display.
// - Always "offscreen" last: it starts anywhere, so that without a display the
//   run still takes place, unseen, and Qt never gives up on the process.
std::string ChoosePlatform(const DisplayEnvironment& environment);

// True in a run that is itself the restart of a run whose display went away.
bool IsDisplayLossRestart();

// The run's answer to a display that goes away (an X server or a Wayland compositor
// that dies, an ssh session that drops). Qt's platforms meet a broken connection with
// a warning and then end the process with status 1, the package lost. That warning
// comes to this unit's message handler first, on whichever thread met the break:
// - before the fetch has returned, the run starts over unseen: the program replaces
//   itself, in the same process, with a run of the same command line on the offscreen
//   platform, which no display can break;
// - once it has returned, the package is saved or not, and the run ends at once;
// - a run that is itself such a restart never starts over again, and ends at once too.
// Either way the process ends with status 0, and no unfinished file is left behind.
// One at a time; it lives as long as Main.
class DisplayLoss final : public window::RunObserver {
 public:
  // Before any thread starts, for the environment it copies is read by every thread:
  // prepares the restart of the command line `arguments` (null-terminated) and installs
  // Qt's message handler, which discards every message, Qt's own warnings included.
  // `fetcherVariable` ("NAME=value", or empty) hands the fetcher to the restart.
  DisplayLoss(char** arguments, const std::string& fetcherVariable, int fetcherControl);
  ~DisplayLoss() override;
  DisplayLoss(const DisplayLoss&) = delete;
  DisplayLoss& operator=(const DisplayLoss&) = delete;

  // Once QApplication has started: notes Qt's connection to its display, X or Wayland,
  // to tell a broken connection from any other warning.
  void WatchConnection();
  void FetchReturned() override;

 private:
  static void HandleMessage(QtMsgType type, const QMessageLogContext& context,
                            const QString& message);
  bool ConnectionBroke() const;
  [[noreturn]] void EndRun() const;

  char** arguments_;
  int fetcherControl_;
  std::vector<std::string> restartVariables_;
  std::vector<char*> restartEnvironment_;  // into restartVariables_, null-terminated
  bool isRestart_ = false;
  std::atomic<xcb_connection_t*> xcbConnection_{nullptr};
  std::atomic<wl_display*> waylandDisplay_{nullptr};
  std::atomic<bool> fetchReturned_{false};
};

}  // namespace korvani::startup
