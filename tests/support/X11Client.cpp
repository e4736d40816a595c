#include "support/X11Client.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>

namespace korvani::support {
namespace {

using Clock = std::chrono::steady_clock;

struct XFreer {
  void operator()(unsigned char* data) const { XFree(data); }
};
struct ImageDestroyer {
  void operator()(XImage* image) const { XDestroyImage(image); }
};

// A window property as the server holds it: `count` items of `format` bits.
struct Property {
  std::unique_ptr<unsigned char, XFreer> data;
  int format = 0;
  unsigned long count = 0;
};

Property ReadProperty(Display* display, Window window, Atom name, Atom type, long length) {
  Property property;
  Atom actualType = None;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(display, window, name, 0, length, False, type, &actualType,
                         &property.format, &property.count, &after, &raw) == Success) {
    property.data.reset(raw);
  }
  return property;
}

// Xlib hands 32-bit items over as longs.
std::vector<long> Items32(const Property& property) {
  if (!property.data || property.format != 32) {
    return {};
  }
  const auto* items = reinterpret_cast<const long*>(property.data.get());
  return {items, items + property.count};
}

int IgnoreError(Display* /*display*/, XErrorEvent* /*error*/) {
  return 0;
}

// Where a message to the window manager says it comes from: a pager, which the window
// manager obeys as the user's own request.
constexpr long kSourcePager = 2;
constexpr long kStateAdd = 1;

}  // namespace

void X11DisplayCloser::operator()(_XDisplay* display) const {
  XCloseDisplay(display);
}

void IgnoreX11Errors() {
  XSetErrorHandler(IgnoreError);
}

X11Display OpenX11Display(const char* name) {
  return X11Display(XOpenDisplay(name));
}

std::string WindowTitle(_XDisplay* display, XWindow window) {
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  for (const auto& [name, type] : {std::pair{XInternAtom(display, "_NET_WM_NAME", False), utf8},
                                   std::pair{Atom{XA_WM_NAME}, Atom{AnyPropertyType}}}) {
    const Property title = ReadProperty(display, window, name, type, 1024);
    if (title.data && title.format == 8) {
      return {reinterpret_cast<const char*>(title.data.get()), title.count};
    }
  }
  return {};
}

X11Client::X11Client(const char* display) : display_(OpenX11Display(display)) {
  if (!display_) {
    return;
  }
  IgnoreX11Errors();
  root_ = DefaultRootWindow(display_.get());
  // A client answers a ping on the root window, to the clients that listen there for
  // substructure redirection (the window manager) or structure changes. Qt sends to
  // those two; a window manager's own answers go to substructure listeners, hence the
  // third. The client list and the stacking are root properties.
  XSelectInput(display_.get(), root_,
               StructureNotifyMask | SubstructureNotifyMask | PropertyChangeMask);
  XSync(display_.get(), False);
}

X11Client::~X11Client() = default;

int X11Client::Fd() const {
  return ConnectionNumber(display_.get());
}

unsigned long X11Client::Intern(const std::string& name) {
  return XInternAtom(display_.get(), name.c_str(), False);
}

void X11Client::Follow(XWindow window) {
  if (followed_.insert(window).second) {
    XSelectInput(display_.get(), window, StructureNotifyMask | PropertyChangeMask);
    XSync(display_.get(), False);
  }
}

std::vector<XWindow> X11Client::Children(XWindow parent) {
  Window root = None;
  Window grandparent = None;
  Window* children = nullptr;
  unsigned count = 0;
  std::vector<XWindow> windows;
  if (XQueryTree(display_.get(), parent, &root, &grandparent, &children, &count) != 0 &&
      children != nullptr) {
    windows.assign(children, children + count);
    XFree(children);
  }
  return windows;
}

std::vector<XWindow> X11Client::TopLevelWindows() {
  std::vector<XWindow> windows;
  const std::vector<long> clients =
      Items32(ReadProperty(display_.get(), root_, Intern("_NET_CLIENT_LIST"), XA_WINDOW, 4096));
  windows.assign(clients.begin(), clients.end());
  // A window manager that keeps no client list (XWayland's) leaves its clients' windows
  // as children of the root window, or of the frames it puts around them.
  for (const XWindow child : Children(root_)) {
    windows.push_back(child);
    for (const XWindow grandchild : Children(child)) {
      windows.push_back(grandchild);
    }
  }
  return windows;
}

std::optional<XWindow> X11Client::FindWindow(const std::string& title, pid_t pid) {
  for (const XWindow window : TopLevelWindows()) {
    if (WindowTitle(display_.get(), window) != title) {
      continue;
    }
    const std::vector<long> owner = Cardinals(window, "_NET_WM_PID");
    if (pid == 0 || (owner.size() == 1 && owner[0] == pid)) {
      // The server hands a gone client's ids to later clients.
      gone_.erase(window);
      Follow(window);
      return window;
    }
  }
  return std::nullopt;
}

std::optional<XWindow> X11Client::AwaitWindow(const std::string& title, Timeout timeout,
                                              pid_t pid) {
  std::optional<XWindow> window;
  Await([&] { return (window = FindWindow(title, pid)).has_value(); }, timeout);
  return window;
}

void X11Client::HandleEvents() {
  Display* display = display_.get();
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == ClientMessage && event.xclient.window == root_ &&
        event.xclient.message_type == Intern("WM_PROTOCOLS") &&
        event.xclient.data.l[0] == static_cast<long>(Intern("_NET_WM_PING"))) {
      answered_.insert(event.xclient.data.l[1]);
    } else if (event.type == UnmapNotify && followed_.contains(event.xunmap.window)) {
      gone_.insert(event.xunmap.window);
    } else if (event.type == DestroyNotify && followed_.contains(event.xdestroywindow.window)) {
      gone_.insert(event.xdestroywindow.window);
    } else if (event.type == xkbEventBase_ &&
               reinterpret_cast<const XkbEvent&>(event).any.xkb_type == XkbBellNotify) {
      ++bells_;
    }
  }
}

bool X11Client::Await(const std::function<bool()>& holds, Timeout timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    HandleEvents();
    if (holds()) {
      return true;
    }
    // What `holds` asked the server may have brought events along.
    if (XQLength(display_.get()) > 0) {
      continue;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd readable{Fd(), POLLIN, 0};
    poll(&readable, 1, static_cast<int>(left.count()));
  }
}

std::vector<std::string> X11Client::Atoms(XWindow window, const std::string& name) {
  Follow(window);
  std::vector<std::string> names;
  for (const long atom :
       Items32(ReadProperty(display_.get(), window, Intern(name), XA_ATOM, 1024))) {
    char* text = XGetAtomName(display_.get(), static_cast<::Atom>(atom));
    if (text != nullptr) {
      names.emplace_back(text);
      XFree(text);
    }
  }
  return names;
}

bool X11Client::HasAtom(XWindow window, const std::string& name, const std::string& atom) {
  const std::vector<std::string> atoms = Atoms(window, name);
  return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

std::vector<long> X11Client::Cardinals(XWindow window, const std::string& name) {
  return Items32(ReadProperty(display_.get(), window, Intern(name), AnyPropertyType, 1024));
}

bool X11Client::WindowManagerRuns() {
  const Atom check = Intern("_NET_SUPPORTING_WM_CHECK");
  return !Items32(ReadProperty(display_.get(), root_, check, XA_WINDOW, 1)).empty();
}

SizeLimits X11Client::SizeLimitsOf(XWindow window) {
  XSizeHints hints{};
  long supplied = 0;
  SizeLimits limits;
  if (XGetWMNormalHints(display_.get(), window, &hints, &supplied) == 0) {
    return limits;
  }
  if ((hints.flags & PMinSize) != 0) {
    limits.minWidth = hints.min_width;
    limits.minHeight = hints.min_height;
  }
  if ((hints.flags & PMaxSize) != 0) {
    limits.maxWidth = hints.max_width;
    limits.maxHeight = hints.max_height;
  }
  return limits;
}

std::vector<XWindow> X11Client::Stacking() {
  const std::vector<long> items = Items32(
      ReadProperty(display_.get(), root_, Intern("_NET_CLIENT_LIST_STACKING"), XA_WINDOW, 4096));
  return {items.begin(), items.end()};
}

bool X11Client::StandsAbove(XWindow upper, XWindow lower) {
  const std::vector<XWindow> order = Stacking();
  const auto upperAt = std::find(order.begin(), order.end(), upper);
  const auto lowerAt = std::find(order.begin(), order.end(), lower);
  return upperAt != order.end() && lowerAt != order.end() && upperAt > lowerAt;
}

std::pair<int, int> X11Client::Size(XWindow window) {
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_.get(), window, &attributes) == 0) {
    return {0, 0};
  }
  return {attributes.width, attributes.height};
}

bool X11Client::Shows(XWindow window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display_.get(), window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

void X11Client::SendToRoot(XWindow window, const std::string& message,
                           const std::vector<long>& data) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = Intern(message);
  event.xclient.format = 32;
  std::copy(data.begin(), data.end(), event.xclient.data.l);
  // The window manager listens on the root window for requests about its windows.
  XSendEvent(display_.get(), root_, False, SubstructureRedirectMask | SubstructureNotifyMask,
             &event);
  XFlush(display_.get());
}

long X11Client::SendPing(XWindow window) {
  Follow(window);
  const long stamp = ++stamp_;
  XEvent ping{};
  ping.xclient.type = ClientMessage;
  ping.xclient.window = window;
  ping.xclient.message_type = Intern("WM_PROTOCOLS");
  ping.xclient.format = 32;
  ping.xclient.data.l[0] = static_cast<long>(Intern("_NET_WM_PING"));
  ping.xclient.data.l[1] = stamp;
  ping.xclient.data.l[2] = static_cast<long>(window);
  XSendEvent(display_.get(), window, False, NoEventMask, &ping);
  XFlush(display_.get());
  return stamp;
}

std::optional<std::chrono::milliseconds> X11Client::Ping(XWindow window, Timeout timeout) {
  const Clock::time_point sent = Clock::now();
  const long stamp = SendPing(window);
  if (!Await([&] { return Answered(stamp); }, timeout)) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
}

void X11Client::Close(XWindow window) {
  SendToRoot(window, "_NET_CLOSE_WINDOW", {CurrentTime, kSourcePager});
}

void X11Client::Click(XWindow window) {
  const auto [width, height] = Size(window);
  XEvent event{};
  event.xbutton.window = window;
  event.xbutton.root = root_;
  event.xbutton.x = width / 2;
  event.xbutton.y = height / 2;
  event.xbutton.button = Button1;
  event.xbutton.same_screen = True;
  for (const int type : {ButtonPress, ButtonRelease}) {
    event.xbutton.type = type;
    event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
    XSendEvent(display_.get(), window, False, ButtonPressMask | ButtonReleaseMask, &event);
  }
  // Once the server has handled both, they are on their way to the window's owner.
  XSync(display_.get(), False);
}

ScreenShot X11Client::Shot(XWindow window) {
  Display* display = display_.get();
  XWindowAttributes attributes{};
  int x = 0;
  int y = 0;
  Window child = None;
  if (XGetWindowAttributes(display, window, &attributes) == 0 ||
      !XTranslateCoordinates(display, window, root_, 0, 0, &x, &y, &child)) {
    return {};
  }
  const std::unique_ptr<XImage, ImageDestroyer> image(
      XGetImage(display, root_, x, y, static_cast<unsigned>(attributes.width),
                static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap));
  if (!image) {
    return {};
  }
  ScreenShot shot{attributes.width, attributes.height, {}};
  shot.pixels.reserve(static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height));
  for (int row = 0; row < shot.height; ++row) {
    for (int column = 0; column < shot.width; ++column) {
      shot.pixels.push_back(static_cast<std::uint32_t>(XGetPixel(image.get(), column, row)) &
                            0xFFFFFFU);
    }
  }
  return shot;
}

XWindow X11Client::Cover(XWindow window, std::uint32_t rgb) {
  Display* display = display_.get();
  XWindowAttributes attributes{};
  int x = 0;
  int y = 0;
  Window child = None;
  XGetWindowAttributes(display, window, &attributes);
  XTranslateCoordinates(display, window, root_, 0, 0, &x, &y, &child);
  XSetWindowAttributes settings{};
  settings.override_redirect = True;
  settings.background_pixel = rgb;
  const XWindow cover =
      XCreateWindow(display, root_, x, y, static_cast<unsigned>(attributes.width),
                    static_cast<unsigned>(attributes.height), 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWOverrideRedirect | CWBackPixel, &settings);
  Follow(cover);
  XMapRaised(display, cover);
  XFlush(display);
  // The server fills the background as it maps the window.
  Await([&] { return Shows(cover); }, std::chrono::seconds(5));
  XSync(display, False);
  return cover;
}

std::optional<XWindow> X11Client::OpenWindow(const std::string& title, int x, int y, int width,
                                             int height) {
  Display* display = display_.get();
  const XWindow window =
      XCreateSimpleWindow(display, root_, x, y, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 0, 0, WhitePixel(display, 0));
  XStoreName(display, window, title.c_str());
  XChangeProperty(display, window, Intern("_NET_WM_NAME"), Intern("UTF8_STRING"), 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
  XMapWindow(display, window);
  XFlush(display);
  if (!AwaitWindow(title, std::chrono::seconds(5)) ||
      !Await([&] { return Shows(window); }, std::chrono::seconds(5))) {
    return std::nullopt;
  }
  return window;
}

void X11Client::KeepAboveAndActivate(XWindow window) {
  SendToRoot(window, "_NET_WM_STATE",
             {kStateAdd, static_cast<long>(Intern("_NET_WM_STATE_ABOVE")), 0, kSourcePager});
  SendToRoot(window, "_NET_ACTIVE_WINDOW", {kSourcePager, CurrentTime, 0});
}

void X11Client::Destroy(XWindow window) {
  XDestroyWindow(display_.get(), window);
  XSync(display_.get(), False);
}

bool X11Client::CountBells() {
  int opcode = 0;
  int error = 0;
  int major = XkbMajorVersion;
  int minor = XkbMinorVersion;
  if (!XkbQueryExtension(display_.get(), &opcode, &xkbEventBase_, &error, &major, &minor) ||
      XkbSelectEvents(display_.get(), XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask) == 0) {
    xkbEventBase_ = -1;
    return false;
  }
  XSync(display_.get(), False);
  return true;
}

int X11Client::TakeBells() {
  XSync(display_.get(), False);
  HandleEvents();
  const int bells = bells_;
  bells_ = 0;
  return bells;
}

}  // namespace korvani::support
