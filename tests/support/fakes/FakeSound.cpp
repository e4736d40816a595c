#include "support/fakes/FakeSound.h"

namespace korvani::fakes {

void FakeSound::Beep(int frequencyHz, int durationMs) {
  log_.Add(QStringLiteral("beep %1 %2").arg(frequencyHz).arg(durationMs));
}

void FakeSound::DefaultBeep() {
  log_.Add(QStringLiteral("defaultBeep"));
}

}  // namespace korvani::fakes
