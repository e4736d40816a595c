#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace korvani::transfer {

// The SHA-256 of a stream, fed piece by piece as the pieces pass by, so that nothing is
// read twice. OpenSSL's libcrypto does the work: it uses the processor's SHA
// instructions where it has them, several times as fast as Qt's own implementation.
class Sha256 {
 public:
  // Throws std::runtime_error when libcrypto cannot start a digest.
  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256();

  // Throws std::runtime_error when libcrypto fails.
  void Update(std::span<const std::byte> bytes);
  // The digest of everything fed so far, as 64 lower-case hex digits. Ends the stream:
  // call it once. Throws std::runtime_error when libcrypto fails.
  std::string HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace korvani::transfer
