// Plays the tones named on its command line ("HZ MS HZ MS ...") through DesktopSound, so
// that a test can choose the ALSA configuration (ALSA_CONFIG_PATH) before ALSA reads it.
// With --print-ms first, it then prints how many milliseconds the tones took. With
// --stay next, it then lives on until its standard input ends, so that tones the
// device was late with may still play.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/Sound.h"

int main(int argc, char** argv) {
  int first = 1;
  const auto option = [&](const char* name) {
    const bool given = first < argc && std::strcmp(argv[first], name) == 0;
    first += given ? 1 : 0;
    return given;
  };
  const bool printMs = option("--print-ms");
  const bool stay = option("--stay");
  const auto started = std::chrono::steady_clock::now();
  const korvani::platform::SystemClock clock;
  korvani::platform::PollEventWait wait(clock);
  korvani::platform::DesktopSound sound(wait);
  for (int i = first; i + 1 < argc; i += 2) {
    sound.Beep(std::atoi(argv[i]), std::atoi(argv[i + 1]));
  }
  if (printMs) {
    const auto took = std::chrono::steady_clock::now() - started;
    std::printf("%lld\n", static_cast<long long>(
                              std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    std::fflush(stdout);
  }
  while (stay && std::getchar() != EOF) {
  }
  return 0;
}
