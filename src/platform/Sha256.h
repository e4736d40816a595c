#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace korvani::platform {

// The SHA-256 of a stream, fed piece by piece as the pieces pass by, so that nothing is
// read twice. OpenSSL's libcrypto does the work: it uses the processor's SHA
// instructions where it has them, several times as fast as Qt's own implementation.
class Sha256 {
 public:
  // The digest's 32 bytes: the type of the catalogue's pins (catalogue/Sha256Digest.h),
  // spelt out so that the platform includes nothing of ours.
  using Digest = std::array<std::uint8_t, 32>;

  // Throws std::runtime_error when libcrypto cannot start a digest.
  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256();

  // Throws std::runtime_error when libcrypto fails.
  void Update(std::span<const std::byte> bytes);
  // The digest of everything fed so far. Ends the stream: call it once. Throws
  // std::runtime_error when libcrypto fails.
  Digest Finish();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace korvani::platform
