#pragma once

#include <QWidget>

#include "platform/WindowStacking.h"
#include "support/fakes/EventLog.h"

namespace korvani::fakes {

// Logs "topmost on" / "topmost off", and whether the window was visible then.
class FakeWindowStacking : public platform::WindowStacking {
 public:
  explicit FakeWindowStacking(EventLog& log) : log_(log) {}

  void SetTopmost(WId window, bool topmost) override {
    const QWidget* widget = QWidget::find(window);
    const bool shown = widget != nullptr && widget->isVisible();
    log_.Add(QString("topmost %1%2").arg(topmost ? "on" : "off", shown ? "" : " (hidden)"));
  }

 private:
  EventLog& log_;
};

}  // namespace korvani::fakes
