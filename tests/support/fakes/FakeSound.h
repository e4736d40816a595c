#pragma once

#include "platform/Sound.h"
#include "support/fakes/EventLog.h"

namespace korvani::fakes {

// Plays nothing; logs "beep <hz> <ms>" and "defaultBeep".
class FakeSound : public platform::Sound {
 public:
  explicit FakeSound(EventLog& log) : log_(log) {}

  void Beep(int frequencyHz, int durationMs) override;
  void DefaultBeep() override;

 private:
  EventLog& log_;
};

}  // namespace korvani::fakes
