#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "support/X11Client.h"

namespace korvani::bench {

struct RegionDestroyer {
  void operator()(_XRegion* region) const { XDestroyRegion(region); }
};
using OwnedRegion = std::unique_ptr<_XRegion, RegionDestroyer>;

// Follows, from another X client, the first top-level window with a given title
// that is created once the watch has begun: when it is exposed, when everything in
// it has been drawn after that (the DAMAGE extension reports every drawing into the
// window, whoever draws), and when it is unmapped or destroyed.
class TitledWindowWatch {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // Connects to $DISPLAY. Throws when it cannot, or when the server lacks DAMAGE.
  explicit TitledWindowWatch(std::string title);

  // Becomes readable when events arrive.
  int Fd() const;
  // Handles every event that has arrived, stamping what they show with `now`.
  void HandleEvents(Time now);

  std::optional<Time> Exposed() const { return exposed_; }
  // The first drawing into the window after it was exposed.
  std::optional<Time> FirstDrawn() const { return firstDrawn_; }
  // The first moment at which every pixel of the window had been drawn since it was
  // exposed.
  std::optional<Time> Painted() const { return painted_; }
  std::optional<Time> Gone() const { return gone_; }

 private:
  void Handle(const XEvent& event, Time now);
  void Follow(Window window);
  bool HasTitle(Window window) const;
  void NoteDrawing(const XDamageNotifyEvent& damage, Time now);

  support::X11Display display_;
  std::string title_;
  int damageEventBase_ = 0;
  // Every top-level window created since the watch began, with its damage tracker,
  // until the titled one has been found among them.
  std::map<Window, Damage> candidates_;
  Window target_ = None;
  int width_ = 0;
  int height_ = 0;
  OwnedRegion drawn_;
  std::optional<Time> exposed_;
  std::optional<Time> firstDrawn_;
  std::optional<Time> painted_;
  std::optional<Time> gone_;
};

}  // namespace korvani::bench
