#include "e2e/X11Client.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>

namespace korvani::e2e {
namespace {

using Clock = std::chrono::steady_clock;

struct ImageDestroyer {
  void operator()(XImage* image) const { XDestroyImage(image); }
};

}  // namespace

void X11Client::Closer::operator()(_XDisplay* display) const {
  XCloseDisplay(display);
}

X11Client::X11Client() : display_(XOpenDisplay(nullptr)) {
  if (!display_) {
    return;
  }
  root_ = DefaultRootWindow(display_.get());
  protocols_ = XInternAtom(display_.get(), "WM_PROTOCOLS", False);
  ping_ = XInternAtom(display_.get(), "_NET_WM_PING", False);
  // A client answers a ping on the root window, to the clients that listen there
  // for substructure redirection (the window manager) or structure changes. Qt
  // sends to those two; a window manager's own answers go to substructure
  // listeners, hence the third.
  XSelectInput(display_.get(), root_, StructureNotifyMask | SubstructureNotifyMask);
  XSync(display_.get(), False);
}

template <typename Wanted>
bool X11Client::AwaitEvent(std::chrono::steady_clock::time_point deadline, Wanted wanted) {
  Display* display = display_.get();
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (wanted(event)) {
        return true;
      }
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd readable{ConnectionNumber(display), POLLIN, 0};
    poll(&readable, 1, static_cast<int>(left.count()));
  }
}

std::optional<std::chrono::milliseconds> X11Client::Ping(XWindow window,
                                                         std::chrono::milliseconds deadline) {
  const long stamp = ++stamp_;
  XEvent ping{};
  ping.xclient.type = ClientMessage;
  ping.xclient.window = window;
  ping.xclient.message_type = protocols_;
  ping.xclient.format = 32;
  ping.xclient.data.l[0] = static_cast<long>(ping_);
  ping.xclient.data.l[1] = stamp;
  ping.xclient.data.l[2] = static_cast<long>(window);
  const Clock::time_point sent = Clock::now();
  XSendEvent(display_.get(), window, False, NoEventMask, &ping);
  XFlush(display_.get());
  const bool answered = AwaitEvent(sent + deadline, [&](const XEvent& event) {
    const XClientMessageEvent& answer = event.xclient;
    return event.type == ClientMessage && answer.window == root_ &&
           answer.message_type == protocols_ && answer.data.l[0] == static_cast<long>(ping_) &&
           answer.data.l[1] == stamp && answer.data.l[2] == static_cast<long>(window);
  });
  if (!answered) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
}

bool X11Client::Shows(XWindow window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display_.get(), window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
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
  settings.event_mask = ExposureMask;
  const XWindow cover =
      XCreateWindow(display, root_, x, y, static_cast<unsigned>(attributes.width),
                    static_cast<unsigned>(attributes.height), 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &settings);
  XMapRaised(display, cover);
  XFlush(display);
  AwaitEvent(Clock::now() + std::chrono::seconds(5), [&](const XEvent& event) {
    return event.type == Expose && event.xexpose.window == cover;
  });
  return cover;
}

void X11Client::Uncover(XWindow cover) {
  XDestroyWindow(display_.get(), cover);
  XSync(display_.get(), False);
}

}  // namespace korvani::e2e
