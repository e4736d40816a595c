#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvani {

// A SHA-256 digest: always its 32 bytes, so no value of the type is malformed. Plain data,
// so that the catalogue's pins need nothing that computes a digest.
using Sha256Digest = std::array<std::uint8_t, 32>;

// The digest as sha256sum writes it: 64 lower-case hex digits.
inline std::string HexText(const Sha256Digest& digest) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    hex += kHexDigits[byte >> 4U];
    hex += kHexDigits[byte & 0x0FU];
  }
  return hex;
}

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
