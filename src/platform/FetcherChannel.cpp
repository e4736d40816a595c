#include "platform/FetcherChannel.h"

#include <cstring>

namespace korvani::platform::channel {
namespace {

// Room for a whole frame at its largest, and several of the fetcher's frames besides, so
// that one receive usually brings many and a frame is seldom split.
constexpr std::size_t kBufferBytes = 4 * (kHeaderBytes + kMaxPayload);
constexpr std::size_t kAgentLengthBytes = 4;

void PutLength(std::byte* at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    at[i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFU);
  }
}

std::uint32_t GetLength(const std::byte* at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  }
  return value;
}

bool IsKnown(std::uint8_t kind) {
  return kind >= static_cast<std::uint8_t>(Kind::Request) &&
         kind <= static_cast<std::uint8_t>(Kind::Failed);
}

}  // namespace

std::array<std::byte, kHeaderBytes> Header(Kind kind, std::uint32_t payloadBytes) {
  std::array<std::byte, kHeaderBytes> header{};
  header[0] = static_cast<std::byte>(kind);
  PutLength(header.data() + 1, payloadBytes);
  return header;
}

std::optional<std::vector<std::byte>> EncodeRequest(const Request& request) {
  const std::size_t payload = kAgentLengthBytes + request.agent.size() + request.url.size();
  if (payload > kMaxPayload) {
    return std::nullopt;
  }
  std::vector<std::byte> frame(kHeaderBytes + payload);
  const auto header = Header(Kind::Request, static_cast<std::uint32_t>(payload));
  std::memcpy(frame.data(), header.data(), header.size());
  std::byte* at = frame.data() + kHeaderBytes;
  PutLength(at, static_cast<std::uint32_t>(request.agent.size()));
  at += kAgentLengthBytes;
  std::memcpy(at, request.agent.data(), request.agent.size());
  std::memcpy(at + request.agent.size(), request.url.data(), request.url.size());
  return frame;
}

std::optional<Request> DecodeRequest(std::span<const std::byte> payload) {
  if (payload.size() < kAgentLengthBytes) {
    return std::nullopt;
  }
  const std::uint32_t agentBytes = GetLength(payload.data());
  const std::span<const std::byte> rest = payload.subspan(kAgentLengthBytes);
  if (agentBytes > rest.size()) {
    return std::nullopt;
  }
  const auto text = [](std::span<const std::byte> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  };
  return Request{.agent = text(rest.first(agentBytes)), .url = text(rest.subspan(agentBytes))};
}

FrameReader::FrameReader() : buffer_(new std::byte[kBufferBytes]) {}

std::span<std::byte> FrameReader::FreeSpace() {
  // What is left of a frame moves to the front, so that the space behind it can take the
  // rest: the buffer holds the largest frame whole.
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  return {buffer_.get() + end_, kBufferBytes - end_};
}

void FrameReader::Received(std::size_t count) {
  end_ += std::min(count, kBufferBytes - end_);
}

FrameReader::Status FrameReader::Next(Frame& frame) {
  if (malformed_) {
    return Status::Malformed;
  }
  const std::size_t available = end_ - begin_;
  if (available < kHeaderBytes) {
    return Status::Incomplete;
  }
  const std::byte* header = buffer_.get() + begin_;
  const auto kind = static_cast<std::uint8_t>(header[0]);
  const std::uint32_t length = GetLength(header + 1);
  if (!IsKnown(kind) || length > kMaxPayload) {
    malformed_ = true;
    return Status::Malformed;
  }
  if (available - kHeaderBytes < length) {
    return Status::Incomplete;
  }
  frame.kind = static_cast<Kind>(kind);
  frame.payload = std::span<const std::byte>(header + kHeaderBytes, length);
  begin_ += kHeaderBytes + length;
  return Status::Frame;
}

void ReplyReader::AwaitHead() {
  if (state_ != State::Broken) {
    state_ = State::Head;
  }
}

ReplyReader::Event ReplyReader::Break() {
  state_ = State::Broken;
  return Event::Malformed;
}

ReplyReader::Event ReplyReader::Next(std::span<const std::byte>& data) {
  data = {};
  if (state_ == State::Broken) {
    return Event::Malformed;
  }
  FrameReader::Frame frame;
  switch (frames_.Next(frame)) {
    case FrameReader::Status::Incomplete:
      return Event::Incomplete;
    case FrameReader::Status::Malformed:
      return Break();
    case FrameReader::Status::Frame:
      break;
  }
  // A reply's last frame is the last thing said until the next request.
  const auto last = [this](Event event) {
    if (frames_.Pending() > 0) {
      return Break();
    }
    state_ = State::Idle;
    return event;
  };
  switch (state_) {
    case State::Head:
      if (frame.kind != Kind::Head || frame.payload.size() != 1 ||
          static_cast<std::uint8_t>(frame.payload[0]) > 1) {
        return Break();
      }
      if (frame.payload[0] == std::byte{1}) {
        state_ = State::Body;
        return Event::Opened;
      }
      return last(Event::NotOpened);
    case State::Body:
      if (frame.kind == Kind::Data && !frame.payload.empty()) {
        data = frame.payload;
        return Event::Data;
      }
      if ((frame.kind == Kind::End || frame.kind == Kind::Failed) && frame.payload.empty()) {
        return last(frame.kind == Kind::End ? Event::End : Event::Failed);
      }
      return Break();
    case State::Idle:
    case State::Broken:
      return Break();
  }
  return Break();
}

}  // namespace korvani::platform::channel
