#pragma once

#include <QLabel>
#include <QObject>
#include <QProgressBar>
#include <optional>

#include "transfer/DownloadFile.h"

class QAccessibleInterface;

namespace korvani::window {

// A label of the window seen as a caption the fetch can write to.
class LabelCaption final : public transfer::Caption {
 public:
  enum class Sizing {
    FitsText,  // grows or shrinks with its caption; its top-left corner stays put
    Fixed,     // keeps its laid-out size whatever it shows
  };

  LabelCaption(QLabel& label, Sizing sizing) : label_(label), sizing_(sizing) {}

  // Held until Refresh(): QLabel schedules a repaint of its own for every new text,
  // which the next pass of events would paint, whatever the fetch's pacing says.
  void SetCaption(const std::string& text) override;
  void Refresh() override;

 private:
  QLabel& label_;
  Sizing sizing_;
  std::optional<QString> heldText_;
};

// QProgressBar counts in int steps; the window's bar counts kilobytes as floats.
// One step is a thousandth of a kilobyte, which keeps fractions of a kilobyte
// visible and still spans bodies of up to 2 GiB.
inline constexpr float kStepsPerKilobyte = 1000.0F;

// The step for a number of kilobytes, held within [0, INT_MAX] (NaN gives 0).
int KilobytesToSteps(float kilobytes);

// pgbDownload: range 0 to Max, position Value, both in kilobytes.
class KilobyteBar final : public transfer::ProgressBar {
 public:
  explicit KilobyteBar(QProgressBar& bar) : bar_(bar) {}

  void SetMax(float kilobytes);

  // Held until Refresh(): QProgressBar repaints itself at once whenever its
  // value grows by a visible step, which would undo the fetch's pacing of
  // repaints. A body larger than expected shows a full bar, not a frozen one.
  void SetValue(float kilobytes) override;
  void Refresh() override;

 private:
  QProgressBar& bar_;
  std::optional<int> heldSteps_;
};

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
