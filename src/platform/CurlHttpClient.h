#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/HttpClient.h"

namespace korvani::platform {

struct CurlTimeouts {
  // Name lookup, TCP and TLS handshake together.
  std::chrono::milliseconds connect{std::chrono::seconds(30)};
  // Once a request is sent: the longest time without a single byte from the server.
  // A slow transfer that keeps moving is never cut off.
  std::chrono::milliseconds idle{std::chrono::seconds(30)};
};

// The HTTP client on libcurl. Single-threaded: every call blocks the caller until it
// can answer, and no thread of ours runs in between.
class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(CurlTimeouts timeouts = {});

  // Returns nullptr when libcurl cannot be initialised.
  std::unique_ptr<InternetHandle> Open(const std::string& agent) override;

 private:
  CurlTimeouts timeouts_;
};

}  // namespace korvani::platform
