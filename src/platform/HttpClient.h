#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "platform/EventWait.h"

namespace korvani::platform {

// What one read from an open URL delivered.
struct ReadResult {
  enum class Status {
    Data,    // `count` bytes (at least one) were stored at the start of the buffer
    End,     // the body ended cleanly; nothing was stored
    Failed,  // the transfer broke (reset, short body, time-out); nothing was stored
  };
  Status status = Status::End;
  std::size_t count = 0;
};

// An opened URL whose response status was a success. Closing it (destroying it)
// abandons whatever the server still sends.
class UrlHandle {
 public:
  virtual ~UrlHandle() = default;
  // Blocks until at least one byte, the end of the body or a failure is known.
  // Never stores more than buffer.size() bytes.
  virtual ReadResult Read(std::span<std::byte> buffer) = 0;
};

// A client session. It must outlive every UrlHandle it opened.
class InternetHandle {
 public:
  virtual ~InternetHandle() = default;
  // Sends one GET and waits for the final response head. Returns nullptr when the
  // URL is malformed or of another scheme, the host cannot be reached, the
  // transfer fails before the head, or the final status is not 2xx.
  virtual std::unique_ptr<UrlHandle> OpenUrl(const std::string& url) = 0;
};

// The HTTP client service of the desktop.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Returns a session that identifies itself with `agent`, or nullptr when no
  // session can be made. Whenever one of its calls waits for the server (to
  // connect, for the response head, for the next bytes), it sleeps in `wait`,
  // which must outlive the session.
  virtual std::unique_ptr<InternetHandle> Open(const std::string& agent, EventWait& wait) = 0;
};

struct CurlTimeouts {
  // Name lookup, TCP and TLS handshake together.
  std::chrono::milliseconds connect{std::chrono::seconds(30)};
  // Once a request is sent: the longest time without a single byte from the server.
  // A slow transfer that keeps moving is never cut off.
  std::chrono::milliseconds idle{std::chrono::seconds(30)};
};

// The HTTP client on libcurl, driven through its socket interface: a call that has
// to wait hands libcurl's sockets and its next time-out to the session's wait, so
// the thread sleeps until the network, the desktop or a deadline needs it, and no
// clock wakes it in between. No thread of ours runs.
class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(CurlTimeouts timeouts = {});

  // Returns nullptr when libcurl cannot be initialised.
  std::unique_ptr<InternetHandle> Open(const std::string& agent, EventWait& wait) override;

 private:
  CurlTimeouts timeouts_;
};

}  // namespace korvani::platform
