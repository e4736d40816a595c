#include "platform/DesktopSound.h"

#include <alsa/asoundlib.h>

#include <QApplication>
#include <mutex>

#include "platform/AlsaPcm.h"
#include "platform/ToneSamples.h"

namespace korvani::platform {
namespace {

constexpr int kSampleRate = 48000;
// Lets the sound server buffer a tenth of a second: enough to play without gaps,
// short enough that the tone starts promptly.
constexpr unsigned kLatencyUs = 100000;

// ALSA writes its errors to stderr unless a handler takes them; the program prints
// nothing, and a missing sound device is not worth a word.
void IgnoreAlsaError(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                     const char* /*fmt*/, ...) {}

AlsaPcm OpenDefaultPlayback() {
  snd_pcm_t* pcm = nullptr;
  // Opened without blocking: a device held by another program fails at once instead of
  // stalling the download until it is free.
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
    return nullptr;
  }
  AlsaPcm owned(pcm);
  // Writes block from here on, so that the tone is played in full before returning.
  if (snd_pcm_nonblock(pcm, 0) < 0) {
    return nullptr;
  }
  // Resampling allowed: whatever rate the device takes, the tone keeps its pitch.
  if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate,
                         1, kLatencyUs) < 0) {
    return nullptr;
  }
  return owned;
}

bool WriteAll(snd_pcm_t* pcm, const std::vector<std::int16_t>& samples) {
  std::size_t written = 0;
  while (written < samples.size()) {
    const snd_pcm_sframes_t result = snd_pcm_writei(
        pcm, samples.data() + written, static_cast<snd_pcm_uframes_t>(samples.size() - written));
    if (result < 0) {
      // An underrun (or a suspended device) is recoverable; anything else ends the tone.
      if (snd_pcm_recover(pcm, static_cast<int>(result), 1) < 0) {
        return false;
      }
      continue;
    }
    written += static_cast<std::size_t>(result);
  }
  return true;
}

}  // namespace

DesktopSound::DesktopSound() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&IgnoreAlsaError); });
}

void DesktopSound::Beep(int frequencyHz, int durationMs) {
  const std::vector<std::int16_t> samples = ToneSamples(frequencyHz, durationMs, kSampleRate);
  if (samples.empty()) {
    return;
  }
  const AlsaPcm pcm = OpenDefaultPlayback();
  if (!pcm) {
    return;
  }
  if (WriteAll(pcm.get(), samples)) {
    snd_pcm_drain(pcm.get());
  }
}

void DesktopSound::DefaultBeep() {
  QApplication::beep();
}

}  // namespace korvani::platform
