#include "platform/Sound.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <numbers>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"

namespace korvani::platform {
namespace {

constexpr int kSampleRate = 48000;
// Lets the sound server buffer a tenth of a second: enough to play without gaps,
// short enough that the tone starts promptly.
constexpr unsigned kLatencyUs = 100000;
constexpr double kAmplitude = 0.5 * 32767;  // loud enough, without clipping a mixer
constexpr int kFadeMs = 5;

struct AlsaPcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
// An open ALSA PCM, closed on every path.
using AlsaPcm = std::unique_ptr<snd_pcm_t, AlsaPcmCloser>;

// A mono sine of `frequencyHz` lasting `durationMs`, as signed 16-bit samples at
// `sampleRate`, faded in and out over a few milliseconds so that it starts and stops
// without a click.
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

// ALSA writes its errors to stderr unless a handler takes them; the program prints
// nothing, and a missing sound device is not worth a word.
void IgnoreAlsaError(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                     const char* /*fmt*/, ...) {}

AlsaPcm OpenDefaultPlayback() {
  snd_pcm_t* pcm = nullptr;
  // Opened without blocking: a device held by another program fails at once instead of
  // waiting until it is free.
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

// True once every sample has been written; false when the device fails or the
// caller has given up on the tone.
bool WriteAll(snd_pcm_t* pcm, const std::vector<std::int16_t>& samples,
              const std::atomic<bool>& abandoned) {
  std::size_t written = 0;
  while (written < samples.size()) {
    if (abandoned) {
      return false;
    }
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

void PlayTone(const std::vector<std::int16_t>& samples, const std::atomic<bool>& abandoned) {
  const AlsaPcm pcm = OpenDefaultPlayback();
  // A device that took too long to open would sound the tone late, out of step
  // with what the caller went on to do.
  if (!pcm || abandoned) {
    return;
  }
  if (WriteAll(pcm.get(), samples, abandoned)) {
    snd_pcm_drain(pcm.get());
  }
}

// Plays the tone on a thread of its own and sleeps in `wait` until it has ended or
// `deadline` has passed. True unless the tone was still going then.
//
// The worker says it has ended by writing to an eventfd, which is what the wait can
// watch beside the desktop's own descriptors.
//
// A worker that misses its deadline is detached, never joined: it may be blocked
// in a call that never returns (ALSA's pulse plugin waits for good on a sound server
// that never answers, its file plugin on a FIFO that nobody reads), and joining it,
// here or in a destructor, would hold the program just the same. It owns all it
// touches (its samples, the PCM it opens and closes, the eventfd, and its share of the
// flag that tells it it has been given up), so it may outlive its caller; if it ever
// returns, it closes the device and ends without a sound, and otherwise the process's
// exit ends it.
bool PlayWithin(std::vector<std::int16_t> samples, EventWait& wait, EventWait::TimePoint deadline) {
  auto ended = std::make_shared<UniqueFd>(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!ended->IsOpen()) {
    return true;  // nothing to wait on: this tone is skipped, the device is not to blame
  }
  auto abandoned = std::make_shared<std::atomic<bool>>(false);
  std::thread worker;
  try {
    worker = std::thread([samples = std::move(samples), abandoned, ended] {
      PlayTone(samples, *abandoned);
      const std::uint64_t one = 1;
      // Cannot fail short of a full counter, which one write never makes.
      [[maybe_unused]] const ssize_t written = ::write(ended->Get(), &one, sizeof one);
    });
  } catch (const std::system_error&) {
    return true;  // no thread to play on: this tone is skipped, the device is not to blame
  }
  pollfd watched{.fd = ended->Get(), .events = POLLIN, .revents = 0};
  for (;;) {
    wait.Wait(std::span(&watched, 1), deadline);
    if ((watched.revents & POLLIN) != 0) {
      worker.join();
      return true;
    }
    if (wait.Now() >= deadline) {
      break;
    }
  }
  *abandoned = true;
  worker.detach();
  return false;
}

}  // namespace

DesktopSound::DesktopSound(EventWait& wait) : wait_(wait) {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&IgnoreAlsaError); });
}

void DesktopSound::Beep(int frequencyHz, int durationMs) {
  if (stuck_) {
    return;
  }
  std::vector<std::int16_t> samples = ToneSamples(frequencyHz, durationMs, kSampleRate);
  if (samples.empty()) {
    return;
  }
  const EventWait::TimePoint started = wait_.Now();
  const std::chrono::milliseconds length(durationMs);
  if (!PlayWithin(std::move(samples), wait_, started + length + slackLeft_)) {
    stuck_ = true;
    return;
  }
  const auto overrun = wait_.Now() - started - length;
  slackLeft_ -= std::clamp<EventWait::TimePoint::duration>(overrun, {}, slackLeft_);
}

void DesktopSound::DefaultBeep() {
  QApplication::beep();
}

}  // namespace korvani::platform
