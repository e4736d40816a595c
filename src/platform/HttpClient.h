#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

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
  // The body length the server announced, if it announced one.
  virtual std::optional<std::uint64_t> AnnouncedLength() const = 0;
};

// A client session. It must outlive every UrlHandle it opened.
class InternetHandle {
 public:
  virtual ~InternetHandle() = default;
  // Sends one GET and waits for the final response head. Returns nullptr when the
  // URL is malformed or of another scheme, the host cannot be reached, the
  // transfer fails before the head, or the final status is not 2xx.
  virtual std::unique_ptr<UrlHandle> OpenUrl(const std::string& url) = 0;
  // Has every later call that blocks on the server (opening a URL, reading from
  // it) run `serve` at least every `interval` (above zero) while it waits. A
  // session whose calls never block may ignore it.
  // By value for the sessions that keep it.
  virtual void WhileWaiting(std::chrono::milliseconds /*interval*/,
                            std::function<void()> /*serve*/) {}  // NOLINT(performance-*)
};

// The HTTP client service of the desktop.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Returns a session that identifies itself with `agent`, or nullptr when no
  // session can be made.
  virtual std::unique_ptr<InternetHandle> Open(const std::string& agent) = 0;
};

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
