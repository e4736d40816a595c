#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/CurlHandles.h"
#include "platform/CurlHttpClient.h"
#include "platform/HttpClient.h"

namespace korvani::platform {

// What a transfer does, every `interval` at the latest, while it waits for the server.
struct WaitingChore {
  std::chrono::milliseconds interval{0};
  std::function<void()> run;  // none: nothing to do
};

// One GET on its own multi handle, driven only from inside Read (pull, no threads).
class CurlTransfer final : public UrlHandle {
 public:
  // Sends the GET and waits for the final response head. Returns nullptr when the
  // URL is malformed, the transfer fails before the head, or the status is not 2xx.
  static std::unique_ptr<CurlTransfer> Open(const std::string& url, const std::string& agent,
                                            const CurlTimeouts& timeouts, WaitingChore chore = {});

  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;
  ~CurlTransfer() override = default;

  ReadResult Read(std::span<std::byte> buffer) override;
  std::optional<std::uint64_t> AnnouncedLength() const override { return announcedLength_; }

 private:
  enum class Outcome { Running, Succeeded, Failed };
  using SteadyTime = std::chrono::steady_clock::time_point;

  CurlTransfer(const CurlTimeouts& timeouts, WaitingChore chore);
  bool Start(const std::string& url, const std::string& agent);
  bool SetOptions(const std::string& agent);
  bool AwaitSuccessfulHead();

  // Runs libcurl until `ready()` holds or the transfer is over (ended, failed or idle
  // for too long), sleeping in curl_multi_poll in between.
  template <typename Ready>
  void Drive(Ready ready);
  // Lets libcurl handle whatever is ready now, without waiting.
  void PerformNow();
  void NoteFinishedTransfer();

  std::size_t TakeSpilled(std::span<std::byte> buffer);
  void ReceiveBody(const char* data, std::size_t size);
  void ReceiveHeaderLine(std::string_view line);

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static int OnRequestReady(void* self, char* /*ip*/, char* /*localIp*/, int /*port*/,
                            int /*localPort*/);

  CurlTimeouts timeouts_;
  WaitingChore chore_;

  // Declared in this order so that the easy handle leaves the multi handle first and
  // the URL it reads outlives it.
  UrlParts url_;
  MultiHandle multi_;
  EasyHandle easy_;
  MultiMembership membership_;

  Outcome outcome_ = Outcome::Running;
  std::optional<std::uint64_t> announcedLength_;

  // Response heads: only the final one (not 1xx, not a redirect) opens the body.
  bool headIsRedirect_ = false;
  bool finalHeadSeen_ = false;
  long finalStatus_ = 0;

  // No byte for this long, once a request is on its way, fails the transfer. libcurl's
  // own low-speed limit averages over seconds and would also cut a slow trickle.
  bool requestSent_ = false;
  SteadyTime lastByteAt_{};

  // The caller's buffer during a Read, and how much of it the body has filled.
  std::span<std::byte> target_;
  std::size_t delivered_ = 0;
  // Body bytes libcurl handed over beyond the caller's buffer, read out first next time.
  std::vector<std::byte> spill_;
  std::size_t spillRead_ = 0;
};

}  // namespace korvani::platform
