#pragma once

#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

// The tones in a recording, as a listener tells them apart: which of a few pitches
// sounds in each 10 ms, and for how long each one lasts.
namespace korvani::e2e {

struct HeardTone {
  int frequencyHz = 0;
  int lengthMs = 0;
};

// The share of `block`'s energy at `frequencyHz` (Goertzel's filter): near 1 for a
// pure tone of that pitch, near 0 for another pitch or noise.
inline double ShareAt(std::span<const std::int16_t> block, int frequencyHz, int sampleRate) {
  const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequencyHz / sampleRate);
  double previous = 0;
  double beforePrevious = 0;
  double energy = 0;
  for (const std::int16_t sample : block) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
    energy += static_cast<double>(sample) * sample;
  }
  const double power = previous * previous + beforePrevious * beforePrevious -
                       coefficient * previous * beforePrevious;
  return energy == 0 ? 0 : power / (energy * static_cast<double>(block.size()) / 2);
}

// The runs of `frequencies` in `samples`, in the order heard. A block counts for a
// pitch when it is louder than a faint hiss and most of its energy lies there: a block
// the tone fills less than half (its start and end, faded in and out) does not, so a
// length may read up to 20 ms short.
inline std::vector<HeardTone> HeardTones(const std::vector<std::int16_t>& samples,
                                         const std::vector<int>& frequencies,
                                         int sampleRate = 48000) {
  constexpr double kFaintest = 1000.0;  // root mean square; a tone here is ten times that
  const std::size_t blockSize = static_cast<std::size_t>(sampleRate) / 100;
  const int blockMs = 10;
  std::vector<HeardTone> heard;
  int last = 0;
  for (std::size_t at = 0; at + blockSize <= samples.size(); at += blockSize) {
    const std::span<const std::int16_t> block(samples.data() + at, blockSize);
    double energy = 0;
    for (const std::int16_t sample : block) {
      energy += static_cast<double>(sample) * sample;
    }
    int pitch = 0;
    if (energy > kFaintest * kFaintest * static_cast<double>(blockSize)) {
      for (const int frequency : frequencies) {
        if (ShareAt(block, frequency, sampleRate) > 0.5) {
          pitch = frequency;
        }
      }
    }
    if (pitch != 0 && pitch == last) {
      heard.back().lengthMs += blockMs;
    } else if (pitch != 0) {
      heard.push_back({pitch, blockMs});
    }
    last = pitch;
  }
  return heard;
}

// "1500 Hz 100 ms, 1800 Hz 200 ms", for a failure's message.
inline QString Describe(const std::vector<HeardTone>& tones) {
  QStringList parts;
  for (const HeardTone& tone : tones) {
    parts << QString("%1 Hz %2 ms").arg(tone.frequencyHz).arg(tone.lengthMs);
  }
  return tones.empty() ? QString("nothing") : parts.join(", ");
}

}  // namespace korvani::e2e
