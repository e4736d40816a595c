#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "transfer/Sha256.h"

namespace korvani::transfer {

// The SHA-256 of a stream, computed in the moments its caller would otherwise sleep.
// A fetch spends much of its time waiting for the server; the bytes it has received are
// kept here and digested a slice at a time while no new ones are ready, so the digest
// costs the transfer next to nothing. Only when the keep is full does Update() digest
// on the spot. No thread: it works on the caller's, between the caller's other work.
class IdleSha256 {
 public:
  // How much is kept at most before Update() digests what it keeps.
  static constexpr std::size_t kKeepBytes = std::size_t{1} << 20U;
  // How much one slice digests: a few tens of microseconds, so that bytes arriving
  // meanwhile wait no longer than that.
  static constexpr std::size_t kSliceBytes = std::size_t{64} << 10U;

  IdleSha256();

  void Update(std::span<const std::byte> bytes);
  // Digests kept bytes a slice at a time for as long as `idle()` holds, or until none are
  // left.
  template <typename Idle>
  void DigestWhile(Idle idle) {
    while (Kept() > 0 && idle()) {
      DigestKept(kSliceBytes);
    }
  }
  // The digest of everything fed, as 64 lower-case hex digits. Ends the stream.
  std::string HexDigest();

 private:
  std::size_t Kept() const { return kept_.size() - digested_; }
  void DigestKept(std::size_t most);

  Sha256 digest_;
  std::vector<std::byte> kept_;
  std::size_t digested_ = 0;  // the bytes at the front of kept_ that are digested already
};

}  // namespace korvani::transfer
