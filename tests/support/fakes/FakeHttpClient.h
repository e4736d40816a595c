#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/HttpClient.h"
#include "support/fakes/EventLog.h"

namespace korvani::fakes {

// What one scripted read of the fake URL does.
struct FakeRead {
  enum class Kind { Data, End, Failed, Throws, Silence };
  Kind kind = Kind::End;
  std::vector<std::byte> bytes;  // Data only

  // `bytes` arrive over as many reads as the reader's buffer needs.
  static FakeRead Data(std::vector<std::byte> bytes);
  static FakeRead End() { return {Kind::End, {}}; }
  static FakeRead Failed() { return {Kind::Failed, {}}; }
  // The read throws std::bad_alloc, as running out of memory inside the client would.
  static FakeRead Throws() { return {Kind::Throws, {}}; }
  // The server is silent for a while before the next read: the session sleeps
  // once in its wait, with no deadline of its own.
  static FakeRead Silence() { return {Kind::Silence, {}}; }
};

// `count` bytes of a repeating pattern, distinct enough to catch lost or
// reordered bytes.
std::vector<std::byte> PatternBytes(std::size_t count, std::size_t offset = 0);

// What the fake server does for every URL.
struct FakeHttpScript {
  bool openFails = false;     // Open() returns no session
  bool openUrlFails = false;  // OpenUrl() returns no handle
  // Played in order; once they run out every read reports End.
  std::vector<FakeRead> reads{};
};

// An HttpClient that plays a script. It must outlive the sessions and URL
// handles it hands out.
class FakeHttpClient : public platform::HttpClient {
 public:
  FakeHttpClient(EventLog& log, FakeHttpScript script);

  std::unique_ptr<platform::InternetHandle> Open(const std::string& agent,
                                                 platform::EventWait& wait) override;

  // The sizes of the buffers every read was given, in order.
  const std::vector<std::size_t>& ReadSizesAsked() const { return readSizes_; }
  // Where those buffers started: one address means one buffer used again.
  const std::vector<const std::byte*>& ReadBuffers() const { return readBuffers_; }

 private:
  class Session;
  class Url;
  platform::ReadResult NextRead(std::span<std::byte> buffer);

  EventLog& log_;
  FakeHttpScript script_;
  std::deque<FakeRead> pending_;
  platform::EventWait* wait_ = nullptr;  // the last session's
  std::size_t deliveredOfFront_ = 0;     // bytes of pending_.front() already read
  std::vector<std::size_t> readSizes_;
  std::vector<const std::byte*> readBuffers_;
};

}  // namespace korvani::fakes
