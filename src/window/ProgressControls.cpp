#include "window/ProgressControls.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace korvani::window {

void LabelCaption::SetCaption(const std::string& text) {
  label_.setText(QString::fromStdString(text));
  if (sizing_ == Sizing::FitsText) {
    label_.adjustSize();
  }
}

void LabelCaption::Refresh() {
  // No events are processed while the fetch runs, so an update() would never
  // be painted; repaint() paints now.
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
