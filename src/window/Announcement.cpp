#include "window/Announcement.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QLabel>

namespace korvani::window {
namespace {

// The notification as assistive technology sees it: a leaf in the label's window,
// where the label is, named by the label's text.
class Notification final : public QAccessibleObject {
 public:
  Notification(QObject& anchor, const QLabel& label) : QAccessibleObject(&anchor), label_(label) {}

  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(label_.window());
  }
  QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }
  QString text(QAccessible::Text kind) const override {
    return kind == QAccessible::Name ? label_.text() : QString();
  }
  QAccessible::Role role() const override { return QAccessible::Notification; }
  QAccessible::State state() const override { return {}; }
  QRect rect() const override { return {label_.mapToGlobal(QPoint()), label_.size()}; }

 private:
  const QLabel& label_;
};

}  // namespace

Announcement::Announcement(const QLabel& label)
    // Qt owns the interfaces registered with it and deletes this one with its anchor.
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
    : notification_(new Notification(anchor_, label)) {
  QAccessible::registerAccessibleInterface(notification_);
}

void Announcement::Announce() {
  QAccessibleEvent shown(notification_, QAccessible::ObjectShow);
  QAccessible::updateAccessibility(&shown);
}

}  // namespace korvani::window
