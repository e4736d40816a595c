#include "transfer/IdleSha256.h"

#include <algorithm>

namespace korvani::transfer {

IdleSha256::IdleSha256() {
  kept_.reserve(kKeepBytes);
}

void IdleSha256::Update(std::span<const std::byte> bytes) {
  if (kept_.size() + bytes.size() > kKeepBytes) {
    DigestKept(Kept());
  }
  if (bytes.size() > kKeepBytes) {
    digest_.Update(bytes);
    return;
  }
  kept_.insert(kept_.end(), bytes.begin(), bytes.end());
}

std::string IdleSha256::HexDigest() {
  DigestKept(Kept());
  return digest_.HexDigest();
}

void IdleSha256::DigestKept(std::size_t most) {
  const std::size_t count = std::min(most, Kept());
  digest_.Update(std::span(kept_).subspan(digested_, count));
  digested_ += count;
  if (digested_ == kept_.size()) {
    // Keeps the capacity: the keep never allocates again.
    kept_.clear();
    digested_ = 0;
  }
}

}  // namespace korvani::transfer
