#pragma once

#include <chrono>

#include "platform/EventWait.h"

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

// Tones through ALSA's "default" PCM, which a desktop's sound server (PulseAudio,
// PipeWire) plays; the bell through Qt. ALSA's own error messages are silenced for
// the whole process once one of these exists.
//
// Each tone plays on a thread of its own while the caller sleeps in `wait` until
// the tone has ended or its deadline (on the wait's clock) has passed, so that a window lending its
// wait stays served meanwhile. All the tones of one DesktopSound together take at most their
// lengths plus `kSlack`, opening the device included. A device that misses a deadline counts as
// stuck, and every later tone returns at once.
class DesktopSound final : public Sound {
 public:
  // What the tones may overrun their lengths by, all together: a sound server's
  // latency fits many times over, and what is left of half a second goes to
  // starting and leaving the worker threads.
  static constexpr std::chrono::milliseconds kSlack{400};

  // `wait` must outlive this object.
  explicit DesktopSound(EventWait& wait);

  void Beep(int frequencyHz, int durationMs) override;
  // Needs the QApplication.
  void DefaultBeep() override;

 private:
  EventWait& wait_;
  EventWait::TimePoint::duration slackLeft_ = kSlack;
  bool stuck_ = false;
};

}  // namespace korvani::platform
