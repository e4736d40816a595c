#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The channel between the window's process and the fetcher, the child that does all the
// network work. The window's process sends each request over the fetcher's control
// socket, together with (SCM_RIGHTS) one end of a fresh socket pair on which the fetcher
// sends its reply. Each message is a frame: one byte that says its kind, four bytes
// (little endian) that say how many bytes follow, and those bytes.
//
//   window -> fetcher   Request   the agent text's length (4 bytes), the agent, the URL
//   fetcher -> window   Head      1 byte: 1 when the URL opened with a success status, else 0
//                       Data      1 to kMaxPayload bytes of the body
//                       End       nothing: the body ended cleanly
//                       Failed    nothing: the transfer broke
//
// A reply is one Head, and after a Head of 1, Data frames and one End or Failed; then the
// fetcher says nothing more on that socket, so a byte after the reply's last frame is as
// wrong as a frame out of order. The window's side closes the reply's socket to abandon a
// transfer, and the control socket to end the fetcher. The control socket carries
// requests alone, so it survives an exec of the window's process (the restart after
// display loss) with nothing of an abandoned reply in it.
namespace korvani::platform::channel {

enum class Kind : std::uint8_t { Request = 1, Head = 2, Data = 3, End = 4, Failed = 5 };

inline constexpr std::size_t kHeaderBytes = 5;
// The most a frame may carry: the fetcher's reads, and a request's URL and agent.
inline constexpr std::size_t kMaxPayload = std::size_t{64} * 1024;

// The five bytes that start a frame of `kind` carrying `payloadBytes`.
std::array<std::byte, kHeaderBytes> Header(Kind kind, std::uint32_t payloadBytes);

struct Request {
  std::string agent;
  std::string url;
};
// The whole Request frame; nothing when the URL and agent do not fit one frame.
std::optional<std::vector<std::byte>> EncodeRequest(const Request& request);
// A Request frame's payload read back; nothing when it is not one.
std::optional<Request> DecodeRequest(std::span<const std::byte> payload);

// Cuts a stream of bytes into frames, trusting nothing in it: a length beyond
// kMaxPayload or an unknown kind makes it malformed for good.
class FrameReader {
 public:
  FrameReader();

  // Where the next bytes received go: never empty unless a frame is pending.
  std::span<std::byte> FreeSpace();
  // `count` bytes were written at the start of FreeSpace().
  void Received(std::size_t count);

  enum class Status { Incomplete, Frame, Malformed };
  struct Frame {
    Kind kind = Kind::Failed;
    // Valid until the next call of FreeSpace() or Next().
    std::span<const std::byte> payload;
  };
  // The next whole frame, once it has arrived.
  Status Next(Frame& frame);
  // Bytes received and not yet handed out as a frame.
  std::size_t Pending() const { return end_ - begin_; }

 private:
  // Left uninitialised: only what was received is ever read.
  std::unique_ptr<std::byte[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool malformed_ = false;
};

// What the window's side makes of the fetcher's frames: a FrameReader that also holds the
// fetcher to the order of a reply (a Head, then the body if it opened, then its end).
class ReplyReader {
 public:
  enum class Event {
    Incomplete,  // more bytes are needed
    Opened,      // Head 1
    NotOpened,   // Head 0
    Data,        // body bytes, in `data`
    End,
    Failed,
    Malformed,  // a frame out of order or not a frame: the fetcher is not to be trusted
  };

  std::span<std::byte> FreeSpace() { return frames_.FreeSpace(); }
  void Received(std::size_t count) { frames_.Received(count); }

  // Begins the reply to a request just sent.
  void AwaitHead();
  // The next event; `data` holds the bytes of a Data event until the next call.
  Event Next(std::span<const std::byte>& data);

 private:
  enum class State { Idle, Head, Body, Broken };
  Event Break();

  FrameReader frames_;
  State state_ = State::Idle;
};

}  // namespace korvani::platform::channel
