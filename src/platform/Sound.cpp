#include "platform/Sound.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"

namespace korvani::platform {
namespace {

constexpr int kSampleRate = 48000;
// Half a second of buffer holds a whole tone before it starts. A sink that is slow to
// start (PulseAudio's, fresh or waking from suspend) plays its first stream on from
// where it should have been by then, and drops what the stream sends it later: only a
// tone that was all there from the start comes through whole. The tone still starts at
// once, since the worker drains the PCM as soon as the tone is written.
constexpr unsigned kLatencyUs = 500000;
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

// True once every sample has been written; false when the device fails.
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

// What a DesktopSound and its worker share. The worker holds a share of its own, so
// that it may outlive the DesktopSound.
struct ToneQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<std::int16_t>> tones;  // under `mutex`
  bool closing = false;                         // under `mutex`: no tone will follow
  std::atomic<std::uint64_t> ended{0};          // tones played or given up by the device
  // Written once for each tone that ends: what the caller's wait can watch beside
  // the desktop's own descriptors.
  UniqueFd endedEvent;

  // The next tone, once there is one; nothing once the DesktopSound has gone and
  // every tone has been taken.
  std::optional<std::vector<std::int16_t>> Next() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return !tones.empty() || closing; });
    if (tones.empty()) {
      return std::nullopt;
    }
    std::vector<std::int16_t> next = std::move(tones.front());
    tones.pop_front();
    return next;
  }
  // Whether another tone waits behind the one just taken.
  bool MoreQueued() {
    const std::lock_guard lock(mutex);
    return !tones.empty();
  }
  void Ended() {
    ++ended;
    const std::uint64_t one = 1;
    // Cannot fail short of a full counter, which these writes never make.
    [[maybe_unused]] const ssize_t written = ::write(endedEvent.Get(), &one, sizeof one);
  }
};

namespace {

// The worker: plays the queued tones in order on one PCM, opened with the first tone
// and again after a failure, so that a device that comes later is still used. A tone
// with another queued behind it is followed at once, without draining: the two sound
// back to back, as they would have with a caller that waited for the first.
//
// It may block for good (ALSA's pulse plugin waits for ever on a sound server that
// never answers, its file plugin on a FIFO that nobody reads), so it is never joined
// while it has a tone; it owns all it touches (its share of the queue, the PCM), and
// the process's exit ends it.
void PlayQueuedTones(ToneQueue& queue) {
  AlsaPcm pcm;
  bool drained = true;
  while (std::optional<std::vector<std::int16_t>> samples = queue.Next()) {
    if (!pcm) {
      pcm = OpenDefaultPlayback();
      drained = false;
    } else if (drained) {
      // A drained PCM takes samples again only once prepared.
      drained = false;
      if (snd_pcm_prepare(pcm.get()) < 0) {
        pcm.reset();
      }
    }
    if (pcm && !WriteAll(pcm.get(), *samples)) {
      pcm.reset();
    }
    if (pcm && !queue.MoreQueued()) {
      snd_pcm_drain(pcm.get());
      drained = true;
    }
    queue.Ended();
  }
}

}  // namespace

DesktopSound::DesktopSound(EventWait& wait) : wait_(wait) {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&IgnoreAlsaError); });
}

DesktopSound::~DesktopSound() {
  if (!worker_.joinable()) {
    return;
  }
  {
    const std::lock_guard lock(queue_->mutex);
    queue_->closing = true;
  }
  queue_->changed.notify_one();
  // A worker with every tone ended closes the device and ends at once; one that is
  // still on a tone may never return.
  if (queue_->ended == queued_) {
    worker_.join();
  } else {
    worker_.detach();
  }
}

bool DesktopSound::StartWorker() {
  auto queue = std::make_shared<ToneQueue>();
  queue->endedEvent = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!queue->endedEvent.IsOpen()) {
    return false;
  }
  try {
    worker_ = std::thread([queue] { PlayQueuedTones(*queue); });
  } catch (const std::system_error&) {
    return false;
  }
  queue_ = std::move(queue);
  return true;
}

void DesktopSound::Beep(int frequencyHz, int durationMs) {
  const EventWait::TimePoint started = wait_.Now();
  std::vector<std::int16_t> samples = ToneSamples(frequencyHz, durationMs, kSampleRate);
  // Without a worker, the tone is skipped.
  if (samples.empty() || (!worker_.joinable() && !StartWorker())) {
    return;
  }
  const std::chrono::milliseconds length(durationMs);
  const EventWait::TimePoint deadline = started + length + slackLeft_;
  {
    const std::lock_guard lock(queue_->mutex);
    queue_->tones.push_back(std::move(samples));
  }
  queue_->changed.notify_one();
  const std::uint64_t ticket = ++queued_;

  pollfd watched{.fd = queue_->endedEvent.Get(), .events = POLLIN, .revents = 0};
  while (queue_->ended < ticket && wait_.Now() < deadline) {
    wait_.Wait(std::span(&watched, 1), deadline);
    if ((watched.revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t read = ::read(watched.fd, &count, sizeof count);
    }
  }
  const auto overrun = wait_.Now() - started - length;
  slackLeft_ -= std::clamp<EventWait::TimePoint::duration>(overrun, {}, slackLeft_);
}

void DesktopSound::DefaultBeep() {
  QApplication::beep();
}

}  // namespace korvani::platform
