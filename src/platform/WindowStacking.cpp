#include "platform/WindowStacking.h"

#include <QtGui/qguiapplication_platform.h>
#include <X11/Xlib.h>

#include <QGuiApplication>

namespace korvani::platform {
namespace {

// _NET_WM_STATE actions and source indication, as the window manager spec numbers them.
constexpr long kStateRemove = 0;
constexpr long kStateAdd = 1;
constexpr long kSourceApplication = 1;

}  // namespace

void X11WindowStacking::SetTopmost(WId window, bool topmost) {
  const auto* x11 =
      qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (display == nullptr) {
    return;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = static_cast<Window>(window);
  event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = topmost ? kStateAdd : kStateRemove;
  event.xclient.data.l[1] = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_ABOVE", False));
  event.xclient.data.l[2] = 0;
  event.xclient.data.l[3] = kSourceApplication;
  // The window manager listens on the root window for state requests.
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
}

}  // namespace korvani::platform
