#pragma once

#include <QProgressBar>

#include "transfer/ProgressView.h"

namespace korvani::window {

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
  float Max() const { return static_cast<float>(bar_.maximum()) / kStepsPerKilobyte; }
  float Value() const { return static_cast<float>(bar_.value()) / kStepsPerKilobyte; }

  // A body larger than expected shows a full bar rather than a frozen one.
  void SetValue(float kilobytes) override;
  void Refresh() override { bar_.repaint(); }

 private:
  QProgressBar& bar_;
};

}  // namespace korvani::window
