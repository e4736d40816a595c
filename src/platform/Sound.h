#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/EventWait.h"

namespace korvani::platform {

// The tones a DesktopSound hands its worker (Sound.cpp).
struct ToneQueue;

// The desktop's sound. Neither call reports failure: where no sound can be
// made, the call simply returns.
class Sound {
 public:
  virtual ~Sound() = default;
  // Plays a sine tone after the ones before it, and returns once it has been played
  // in full, or sooner when the device is late with it: a tone never holds its caller
  // for long, whatever the device does. A late tone still plays when the device
  // takes it.
  virtual void Beep(int frequencyHz, int durationMs) = 0;
  // Rings the desktop's own bell.
  virtual void DefaultBeep() = 0;
};

// Tones through ALSA's "default" PCM, which a desktop's sound server (PulseAudio,
// PipeWire) plays; the bell through Qt. ALSA's own error messages are silenced for
// the whole process once one of these exists.
//
// One worker thread, started with the first tone, plays the tones in the order they
// come on one PCM, while each caller sleeps in `wait` until its tone has ended or its
// deadline (on the wait's clock) has passed, so that a window lending its wait stays
// served meanwhile. All the tones of one DesktopSound together hold their callers at
// most their lengths plus `kSlack`, opening the device included.
//
// A sound server may take seconds to start its first stream (a fresh or suspended
// sink, a Bluetooth headset waking up): its tones are late, not lost. The caller goes
// on at the deadline and the worker plays them, in order, once the server takes them,
// for as long as the process lives. So the download goes on while late tones play:
// a fetch held up for seconds by the sound would be worse than tones heard a little
// after the package started to come in.
class DesktopSound final : public Sound {
 public:
  // What the tones may overrun their lengths by, all together: a sound server's
  // latency fits many times over, and what is left of half a second goes to
  // starting the worker thread.
  static constexpr std::chrono::milliseconds kSlack{400};

  // `wait` must outlive this object.
  explicit DesktopSound(EventWait& wait);
  // Ends an idle worker; one still on a tone is left to finish it, for as long as
  // the process lives.
  ~DesktopSound() override;
  DesktopSound(const DesktopSound&) = delete;
  DesktopSound& operator=(const DesktopSound&) = delete;

  void Beep(int frequencyHz, int durationMs) override;
  // Needs the QApplication.
  void DefaultBeep() override;

 private:
  // Starts the worker; false when no thread can be had.
  bool StartWorker();

  EventWait& wait_;
  EventWait::TimePoint::duration slackLeft_ = kSlack;
  std::shared_ptr<ToneQueue> queue_;  // shared with the worker, which may outlive this
  std::thread worker_;
  std::uint64_t queued_ = 0;  // tones handed to the worker so far
};

}  // namespace korvani::platform
