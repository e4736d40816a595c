#pragma once

namespace korvani::platform {

// The desktop's sound. Neither call reports failure: where no sound can be
// made, the call simply returns.
class Sound {
 public:
  virtual ~Sound() = default;
  // Plays a sine tone and returns once it has been played in full, or at once
  // when the device does not take it in time: a tone never holds its caller
  // for long, whatever the device does.
  virtual void Beep(int frequencyHz, int durationMs) = 0;
  // Rings the desktop's own bell.
  virtual void DefaultBeep() = 0;
};

}  // namespace korvani::platform
