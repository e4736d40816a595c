#pragma once

#include <cstdint>
#include <vector>

namespace korvani::platform {

// A mono sine of `frequencyHz` lasting `durationMs`, as signed 16-bit samples at
// `sampleRate`, faded in and out over a few milliseconds so that it starts and stops
// without a click.
std::vector<std::int16_t> ToneSamples(int frequencyHz, int durationMs, int sampleRate);

}  // namespace korvani::platform
