#include "TitledWindowWatch.h"

#include <stdexcept>
#include <utility>

namespace korvani::bench {

TitledWindowWatch::TitledWindowWatch(std::string title)
    : display_(support::OpenX11Display()), title_(std::move(title)), drawn_(XCreateRegion()) {
  if (!display_) {
    throw std::runtime_error("cannot open the X display");
  }
  int damageErrorBase = 0;
  if (!XDamageQueryExtension(display_.get(), &damageEventBase_, &damageErrorBase)) {
    throw std::runtime_error("the X server has no DAMAGE extension");
  }
  int major = 1;
  int minor = 1;
  XDamageQueryVersion(display_.get(), &major, &minor);
  support::IgnoreX11Errors();
  XSelectInput(display_.get(), DefaultRootWindow(display_.get()), SubstructureNotifyMask);
  // The watch is in place before the caller starts the program.
  XSync(display_.get(), False);
}

int TitledWindowWatch::Fd() const {
  return ConnectionNumber(display_.get());
}

void TitledWindowWatch::HandleEvents(Time now) {
  while (XPending(display_.get()) > 0) {
    XEvent event;
    XNextEvent(display_.get(), &event);
    Handle(event, now);
  }
  XFlush(display_.get());
}

void TitledWindowWatch::Handle(const XEvent& event, Time now) {
  if (event.type == damageEventBase_ + XDamageNotify) {
    NoteDrawing(reinterpret_cast<const XDamageNotifyEvent&>(event), now);
    return;
  }
  switch (event.type) {
    case CreateNotify:
      if (target_ == None && event.xcreatewindow.parent == DefaultRootWindow(display_.get()) &&
          event.xcreatewindow.override_redirect == False) {
        Follow(event.xcreatewindow.window);
      }
      return;
    case Expose:
      if (target_ == None && candidates_.contains(event.xexpose.window) &&
          HasTitle(event.xexpose.window)) {
        target_ = event.xexpose.window;
        exposed_ = now;
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_.get(), target_, &attributes);
        width_ = attributes.width;
        height_ = attributes.height;
        // The others are no longer of interest; their trackers go with the connection.
        candidates_.clear();
      }
      return;
    case UnmapNotify:
      if (target_ != None && event.xunmap.window == target_ && painted_ && !gone_) {
        gone_ = now;
      }
      return;
    case DestroyNotify:
      candidates_.erase(event.xdestroywindow.window);
      if (target_ != None && event.xdestroywindow.window == target_ && !gone_) {
        gone_ = now;
      }
      return;
    default:
      return;
  }
}

void TitledWindowWatch::Follow(Window window) {
  // Tracking starts before the window can be mapped: its owner draws only once it
  // has been exposed, which needs the window manager's round trip first.
  XSelectInput(display_.get(), window, StructureNotifyMask | ExposureMask);
  candidates_[window] = XDamageCreate(display_.get(), window, XDamageReportRawRectangles);
  XFlush(display_.get());
}

bool TitledWindowWatch::HasTitle(Window window) const {
  return support::WindowTitle(display_.get(), window) == title_;
}

void TitledWindowWatch::NoteDrawing(const XDamageNotifyEvent& damage, Time now) {
  if (damage.drawable != target_ || !exposed_ || painted_) {
    return;
  }
  if (!firstDrawn_) {
    firstDrawn_ = now;
  }
  XRectangle area = damage.area;
  XUnionRectWithRegion(&area, drawn_.get(), drawn_.get());
  if (XRectInRegion(drawn_.get(), 0, 0, static_cast<unsigned>(width_),
                    static_cast<unsigned>(height_)) == RectangleIn) {
    painted_ = now;
  }
}

}  // namespace korvani::bench
