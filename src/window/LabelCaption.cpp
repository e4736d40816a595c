#include "window/LabelCaption.h"

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

}  // namespace korvani::window
