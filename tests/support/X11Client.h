#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Xlib's display, declared here so that Xlib's macros stay out of the tests.
struct _XDisplay;

namespace korvani::support {

// An X window's id.
using XWindow = unsigned long;

struct X11DisplayCloser {
  void operator()(_XDisplay* display) const;
};
// A connection to an X server, closed when dropped.
using X11Display = std::unique_ptr<_XDisplay, X11DisplayCloser>;

// `name` (as in $DISPLAY), or $DISPLAY itself when null; null when it cannot be reached.
X11Display OpenX11Display(const char* name = nullptr);

// Makes Xlib ignore the errors of requests about windows that went in the meantime, which
// a client that follows other programs' windows must expect; Xlib's default handler
// would end the process.
void IgnoreX11Errors();

// The title `window` shows: _NET_WM_NAME, or WM_NAME where that is missing.
std::string WindowTitle(_XDisplay* display, XWindow window);

// What the screen showed over a window's client area, one 0xRRGGBB per pixel.
struct ScreenShot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// The size limits a window asks the window manager for (WM_NORMAL_HINTS); 0 where unset.
struct SizeLimits {
  int minWidth = 0;
  int minHeight = 0;
  int maxWidth = 0;
  int maxHeight = 0;
};

// Another client of an X server, doing to a program's windows what the window manager
// and other programs do to them, and waiting on the server's events for what follows.
// Every wait ends at a deadline.
class X11Client {
 public:
  using Timeout = std::chrono::milliseconds;

  // Connects to `display`, or to $DISPLAY when null.
  explicit X11Client(const char* display = nullptr);
  X11Client(const X11Client&) = delete;
  X11Client& operator=(const X11Client&) = delete;
  ~X11Client();

  bool IsOpen() const { return display_ != nullptr; }
  // Becomes readable when events arrive; for waits that also watch other things.
  int Fd() const;

  // A top-level window, managed where a window manager runs, titled `title` and, unless `pid` is 0,
  // owned by process `pid` (_NET_WM_PID); nothing when there is none now.
  std::optional<XWindow> FindWindow(const std::string& title, pid_t pid = 0);
  // The same, waiting up to `timeout` for one to appear.
  std::optional<XWindow> AwaitWindow(const std::string& title, Timeout timeout, pid_t pid = 0);

  // Handles the events that have arrived and returns at once.
  void HandleEvents();
  // Handles events as they arrive until `holds` is true, at most `timeout`; false when it
  // was not by then. `holds` is asked first, and again after each batch of events: the
  // client listens to property, structure and stacking changes of the root window and of
  // every window it has found or was asked about.
  bool Await(const std::function<bool()>& holds, Timeout timeout);

  // The names of the atoms in `window`'s property `name` (such as _NET_WM_STATE).
  std::vector<std::string> Atoms(XWindow window, const std::string& name);
  // True when `window`'s atom list `name` holds `atom`.
  bool HasAtom(XWindow window, const std::string& name, const std::string& atom);
  // The 32-bit items of `window`'s property `name` (such as _MOTIF_WM_HINTS).
  std::vector<long> Cardinals(XWindow window, const std::string& name);
  SizeLimits SizeLimitsOf(XWindow window);
  // True while a window manager says on the root window that it runs
  // (_NET_SUPPORTING_WM_CHECK).
  bool WindowManagerRuns();
  // The managed windows from bottom to top (_NET_CLIENT_LIST_STACKING).
  std::vector<XWindow> Stacking();
  // True when `upper` stands above `lower` in that stacking.
  bool StandsAbove(XWindow upper, XWindow lower);
  // Width and height of `window`, 0 by 0 when it is gone.
  std::pair<int, int> Size(XWindow window);
  // True while `window` is mapped and shows on the screen.
  bool Shows(XWindow window);
  // True once `window` was unmapped or destroyed after the client began to follow it.
  bool Gone(XWindow window) const { return gone_.contains(window); }

  // Sends `window` a _NET_WM_PING as a window manager does; the answer comes on the root
  // window. Returns the ping's stamp.
  long SendPing(XWindow window);
  // True once the answer to the ping stamped `stamp` has been handled.
  bool Answered(long stamp) const { return answered_.contains(stamp); }
  // Pings `window` and waits up to `timeout` for the answer. How long it took, or
  // nothing when none came in time.
  std::optional<std::chrono::milliseconds> Ping(XWindow window, Timeout timeout);

  // Asks the window manager to close `window`, as its close button does
  // (_NET_CLOSE_WINDOW, which the window manager turns into WM_DELETE_WINDOW).
  void Close(XWindow window);
  // Clicks the first button in the middle of `window`: a press and a release, sent to
  // the clients that listen for them there (the window's owner), as the server reports
  // a click. Returns once the server has sent them on.
  void Click(XWindow window);

  // What the screen shows over the client area of `window`; empty when it is gone.
  ScreenShot Shot(XWindow window);
  // Puts a window of this client, filled with `rgb` and left unmanaged like a menu, over
  // the client area of `window` and returns once it shows.
  XWindow Cover(XWindow window, std::uint32_t rgb);
  // A managed window of this client, as another program's, once the window manager
  // manages it; nothing when that did not happen in time.
  std::optional<XWindow> OpenWindow(const std::string& title, int x, int y, int width, int height);
  // Asks the window manager to keep `window` above the others and to activate it, as a
  // pager does; returns at once.
  void KeepAboveAndActivate(XWindow window);
  // Takes a window of this client away again.
  void Destroy(XWindow window);

  // From now on counts the bells rung on the server, as XKB reports them to every
  // client that asks: the bell the user hears, whoever rings it. False without XKB.
  bool CountBells();
  // The bells rung since the last call. The server has sent every bell it rang before
  // this call's round trip, so they are all counted by its end.
  int TakeBells();

 private:
  unsigned long Intern(const std::string& name);
  // The client list the window manager keeps, then the root window's children and
  // theirs, where a window manager without a client list keeps its clients.
  std::vector<XWindow> TopLevelWindows();
  std::vector<XWindow> Children(XWindow parent);
  void Follow(XWindow window);
  void SendToRoot(XWindow window, const std::string& message, const std::vector<long>& data);

  X11Display display_;
  XWindow root_ = 0;
  std::set<XWindow> followed_;
  std::set<XWindow> gone_;
  std::set<long> answered_;
  long stamp_ = 0;
  int xkbEventBase_ = -1;
  int bells_ = 0;
};

}  // namespace korvani::support
