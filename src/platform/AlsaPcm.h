#pragma once

#include <alsa/asoundlib.h>

#include <memory>

namespace korvani::platform {

struct AlsaPcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
// An open ALSA PCM, closed on every path.
using AlsaPcm = std::unique_ptr<snd_pcm_t, AlsaPcmCloser>;

}  // namespace korvani::platform
