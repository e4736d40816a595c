#include "platform/Fetcher.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "platform/EventWait.h"
#include "platform/FetcherChannel.h"
#include "platform/UniqueFd.h"

namespace korvani::platform {
namespace {

// The transfer under way is over: its reply socket closed, or the control socket spoke.
struct TransferAbandoned {};

// Sleeps on the network as PollEventWait does, and on the two sockets beside it, neither
// of which says anything during a transfer unless the window's side has given it up.
class AbandonmentWatchingWait final : public EventWait {
 public:
  AbandonmentWatchingWait(const Clock& clock, int control) : EventWait(clock), control_(control) {}

  void WatchReply(int reply) { reply_ = reply; }

  void Wait(std::span<pollfd> watched, TimePoint deadline) override {
    all_.assign(watched.begin(), watched.end());
    all_.push_back({.fd = control_, .events = POLLIN, .revents = 0});
    all_.push_back({.fd = reply_, .events = POLLIN, .revents = 0});
    PollReady(all_, MillisecondsUntil(deadline));
    if (all_[all_.size() - 2].revents != 0 || all_.back().revents != 0) {
      throw TransferAbandoned{};
    }
    for (std::size_t i = 0; i < watched.size(); ++i) {
      watched[i].revents = all_[i].revents;
    }
  }

 private:
  int control_;
  int reply_ = -1;
  std::vector<pollfd> all_;
};

void SendAll(int socket, std::span<iovec> pieces) {
  while (!pieces.empty()) {
    msghdr message{};
    message.msg_iov = pieces.data();
    message.msg_iovlen = pieces.size();
    const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      throw TransferAbandoned{};
    }
    auto left = static_cast<std::size_t>(sent);
    while (!pieces.empty() && left >= pieces.front().iov_len) {
      left -= pieces.front().iov_len;
      pieces = pieces.subspan(1);
    }
    if (!pieces.empty()) {
      pieces.front().iov_base = static_cast<std::byte*>(pieces.front().iov_base) + left;
      pieces.front().iov_len -= left;
    }
  }
}

// One frame, header and payload in one call: a Data frame costs one system call.
void SendFrame(int socket, channel::Kind kind, std::span<const std::byte> payload = {}) {
  auto header = channel::Header(kind, static_cast<std::uint32_t>(payload.size()));
  std::array<iovec, 2> pieces{
      iovec{.iov_base = header.data(), .iov_len = header.size()},
      iovec{.iov_base = const_cast<std::byte*>(payload.data()), .iov_len = payload.size()}};
  SendAll(socket, std::span(pieces).first(payload.empty() ? 1 : 2));
}

struct Assignment {
  channel::Request request;
  UniqueFd reply;
};

// The control socket's side: requests, each with the socket its reply goes to.
class Requests {
 public:
  explicit Requests(int control) : control_(control) {}

  // The next request with its reply socket; nothing once the control socket has closed or
  // carried something that is not a request.
  std::optional<Assignment> Next() {
    for (;;) {
      channel::FrameReader::Frame frame;
      switch (frames_.Next(frame)) {
        case channel::FrameReader::Status::Frame: {
          std::optional<channel::Request> request;
          if (frame.kind == channel::Kind::Request) {
            request = channel::DecodeRequest(frame.payload);
          }
          if (!request || sockets_.empty()) {
            return std::nullopt;
          }
          Assignment next{.request = std::move(*request), .reply = std::move(sockets_.front())};
          sockets_.pop_front();
          return next;
        }
        case channel::FrameReader::Status::Malformed:
          return std::nullopt;
        case channel::FrameReader::Status::Incomplete:
          break;
      }
      if (!Receive()) {
        return std::nullopt;
      }
    }
  }

 private:
  bool Receive() {
    const std::span<std::byte> space = frames_.FreeSpace();
    iovec piece{.iov_base = space.data(), .iov_len = space.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * kMostSockets)> control{};
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    ssize_t count = 0;
    do {
      count = ::recvmsg(control_, &message, MSG_CMSG_CLOEXEC);
    } while (count < 0 && errno == EINTR);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) {
        continue;
      }
      const std::size_t fds = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < fds; ++i) {
        int fd = -1;
        std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
        sockets_.emplace_back(fd);
      }
    }
    if (count <= 0) {
      return false;
    }
    frames_.Received(static_cast<std::size_t>(count));
    return true;
  }

  // One socket comes with each request; room for a few, should several be read at once.
  static constexpr std::size_t kMostSockets = 8;

  int control_;
  channel::FrameReader frames_;
  std::deque<UniqueFd> sockets_;
};

void Fetch(const Assignment& assignment, HttpClient& http, AbandonmentWatchingWait& wait,
           std::vector<std::byte>& buffer) {
  const int reply = assignment.reply.Get();
  wait.WatchReply(reply);
  const std::unique_ptr<InternetHandle> session = http.Open(assignment.request.agent, wait);
  const std::unique_ptr<UrlHandle> opened =
      session ? session->OpenUrl(assignment.request.url) : nullptr;
  const std::byte head{static_cast<std::uint8_t>(opened ? 1 : 0)};
  SendFrame(reply, channel::Kind::Head, std::span(&head, 1));
  if (!opened) {
    return;
  }
  for (;;) {
    const ReadResult read = opened->Read(buffer);
    switch (read.status) {
      case ReadResult::Status::Data:
        SendFrame(reply, channel::Kind::Data, std::span(buffer).first(read.count));
        break;
      case ReadResult::Status::End:
        SendFrame(reply, channel::Kind::End);
        return;
      case ReadResult::Status::Failed:
        SendFrame(reply, channel::Kind::Failed);
        return;
    }
  }
}

}  // namespace

void ServeFetches(int control, HttpClient& http, const Clock& clock) {
  AbandonmentWatchingWait wait(clock, control);
  Requests requests(control);
  // As much as one frame carries: each read of the body goes out as one frame.
  std::vector<std::byte> buffer(channel::kMaxPayload);
  while (const std::optional<Assignment> assignment = requests.Next()) {
    try {
      Fetch(*assignment, http, wait, buffer);
    } catch (const TransferAbandoned&) {
      // Its handles are gone with the stack; the control socket says what comes next.
    }
  }
}

}  // namespace korvani::platform
