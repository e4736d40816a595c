#include "window/ProgressControls.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <algorithm>
#include <climits>
#include <cmath>

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

void LabelCaption::SetCaption(const std::string& text) {
  heldText_ = QString::fromStdString(text);
}

void LabelCaption::Refresh() {
  if (heldText_) {
    label_.setText(*heldText_);
    heldText_.reset();
    if (sizing_ == Sizing::FitsText) {
      label_.adjustSize();
    }
  }
  // Paints now, before the fetch goes on, instead of at the next pass of events.
  label_.repaint();
}

int KilobytesToSteps(float kilobytes) {
  const double steps = std::round(static_cast<double>(kilobytes) * kStepsPerKilobyte);
  if (!(steps > 0.0)) {
    return 0;
  }
  return steps >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(steps);
}

void KilobyteBar::SetMax(float kilobytes) {
  bar_.setMaximum(KilobytesToSteps(kilobytes));
}

void KilobyteBar::SetValue(float kilobytes) {
  heldSteps_ = KilobytesToSteps(kilobytes);
}

void KilobyteBar::Refresh() {
  if (heldSteps_) {
    // QProgressBar ignores a value outside its range; hold it at the top instead.
    bar_.setValue(std::min(*heldSteps_, bar_.maximum()));
    heldSteps_.reset();
  }
  bar_.repaint();
}

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
