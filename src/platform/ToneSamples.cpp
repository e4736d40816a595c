#include "platform/ToneSamples.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvani::platform {
namespace {

constexpr double kAmplitude = 0.5 * 32767;  // loud enough, without clipping a mixer
constexpr int kFadeMs = 5;

}  // namespace

std::vector<std::int16_t> ToneSamples(int frequencyHz, int durationMs, int sampleRate) {
  if (frequencyHz <= 0 || durationMs <= 0 || sampleRate <= 0) {
    return {};
  }
  const auto frames =
      static_cast<std::size_t>(static_cast<long long>(sampleRate) * durationMs / 1000);
  // Short tones get a shorter fade, so that they still reach full loudness.
  const std::size_t fadeFrames =
      std::min<std::size_t>(static_cast<std::size_t>(sampleRate) * kFadeMs / 1000, frames / 4);
  const double step = 2 * std::numbers::pi * frequencyHz / sampleRate;

  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    double gain = 1.0;
    const std::size_t fromEdge = std::min(i, frames - 1 - i);
    if (fromEdge < fadeFrames) {
      // Raised cosine: no sudden change of slope at either end of the fade.
      gain = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(fromEdge) /
                                  static_cast<double>(fadeFrames));
    }
    samples[i] = static_cast<std::int16_t>(
        std::lround(kAmplitude * gain * std::sin(step * static_cast<double>(i))));
  }
  return samples;
}

}  // namespace korvani::platform
