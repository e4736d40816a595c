#include "transfer/Sha256.h"

#include <openssl/evp.h>

#include <array>
#include <stdexcept>

namespace korvani::transfer {

struct Sha256::Context {
  struct Deleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Deleter> digest{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  if (!context_->digest || EVP_DigestInit_ex(context_->digest.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("libcrypto cannot start a SHA-256 digest");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::byte> bytes) {
  if (EVP_DigestUpdate(context_->digest.get(), bytes.data(), bytes.size()) != 1) {
    throw std::runtime_error("libcrypto failed to digest");
  }
}

std::string Sha256::HexDigest() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_->digest.get(), digest.data(), &length) != 1) {
    throw std::runtime_error("libcrypto failed to finish a digest");
  }
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(std::size_t{2} * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHexDigits[digest[i] >> 4U];
    hex += kHexDigits[digest[i] & 0x0FU];
  }
  return hex;
}

}  // namespace korvani::transfer
