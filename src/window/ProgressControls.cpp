#include "window/ProgressControls.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace korvani::window {

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

}  // namespace korvani::window
