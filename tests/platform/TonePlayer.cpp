// Plays the tones named on its command line ("HZ MS HZ MS ...") through DesktopSound, so
// that a test can choose the ALSA configuration (ALSA_CONFIG_PATH) before ALSA reads it.
#include <cstdlib>

#include "platform/DesktopSound.h"

int main(int argc, char** argv) {
  korvani::platform::DesktopSound sound;
  for (int i = 1; i + 1 < argc; i += 2) {
    sound.Beep(std::atoi(argv[i]), std::atoi(argv[i + 1]));
  }
  return 0;
}
