#include "platform/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace korvani::platform {

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

Sha256::Digest Sha256::Finish() {
  Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_->digest.get(), digest.data(), &length) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("libcrypto failed to finish a SHA-256 digest");
  }
  return digest;
}

}  // namespace korvani::platform
