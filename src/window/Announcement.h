#pragma once

#include <QObject>

class QAccessibleInterface;
class QLabel;

namespace korvani::window {

// Has a screen reader say what a label shows, at the moment the window calls for it.
// Screen readers on AT-SPI leave a label's changes alone unless it has the focus, but
// speak a notification as it appears: so the label's text appears as a notification
// of its own, beside the label, which stays a plain label.
class Announcement final {
 public:
  explicit Announcement(const QLabel& label);

  // Shows the notification, named by the label's text as it is now.
  void Announce();

 private:
  // What the notification's accessible interface belongs to: Qt deletes the
  // interface when the anchor goes.
  QObject anchor_;
  QAccessibleInterface* notification_;
};

}  // namespace korvani::window
