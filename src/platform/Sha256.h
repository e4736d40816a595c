#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvani {

// A SHA-256 digest: always its 32 bytes, so no value of the type is malformed.
using Sha256Digest = std::array<std::uint8_t, 32>;

// The digest as sha256sum writes it: 64 lower-case hex digits.
std::string HexText(const Sha256Digest& digest);

// The digest that 64 hex digits (either case) spell; nothing for any other text.
// constexpr, so that the catalogue's table is checked against its sums when it compiles.
constexpr std::optional<Sha256Digest> Sha256FromHex(std::string_view hex) {
  const auto value = [](char digit) -> int {
    if (digit >= '0' && digit <= '9') {
      return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
      return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
      return digit - 'A' + 10;
    }
    return -1;
  };
  Sha256Digest digest{};
  if (hex.size() != digest.size() * 2) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const int high = value(hex[2 * i]);
    const int low = value(hex[2 * i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    digest[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return digest;
}

}  // namespace korvani

namespace korvani::platform {

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
  // The digest of everything fed so far. Ends the stream: call it once. Throws
  // std::runtime_error when libcrypto fails.
  Sha256Digest Finish();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace korvani::platform
