#pragma once

#include "platform/Sound.h"

namespace korvani::platform {

// Tones through ALSA's "default" PCM, which a desktop's sound server (PulseAudio,
// PipeWire) plays; the bell through Qt. ALSA's own error messages are silenced for
// the whole process once one of these exists.
class DesktopSound final : public Sound {
 public:
  DesktopSound();

  void Beep(int frequencyHz, int durationMs) override;
  // Needs the QApplication.
  void DefaultBeep() override;
};

}  // namespace korvani::platform
