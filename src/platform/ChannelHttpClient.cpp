#include "platform/ChannelHttpClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/FetcherChannel.h"

namespace korvani::platform {
namespace {

using channel::ReplyReader;

constexpr int kReplyBufferBytes = 1 << 20;

// Sends the whole request frame with the reply's socket attached to its first byte.
bool SendRequest(int control, const std::vector<std::byte>& frame, int replySocket) {
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> attached{};
  std::size_t sent = 0;
  while (sent < frame.size()) {
    iovec piece{.iov_base = const_cast<std::byte*>(frame.data() + sent),
                .iov_len = frame.size() - sent};
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    if (sent == 0) {
      message.msg_control = attached.data();
      message.msg_controllen = attached.size();
      cmsghdr* header = CMSG_FIRSTHDR(&message);
      header->cmsg_level = SOL_SOCKET;
      header->cmsg_type = SCM_RIGHTS;
      header->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(header), &replySocket, sizeof replySocket);
    }
    const ssize_t count = ::sendmsg(control, &message, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

// The window's end of one reply.
class Reply {
 public:
  Reply(UniqueFd socket, std::chrono::milliseconds silence)
      : socket_(std::move(socket)), silence_(silence) {
    replies_.AwaitHead();
  }

  // The fetcher's next event; Malformed for good once anything went wrong.
  ReplyReader::Event Next(EventWait& wait, std::span<const std::byte>& data) {
    EventWait::TimePoint heardAt = wait.Now();
    for (;;) {
      if (!socket_.IsOpen()) {
        return ReplyReader::Event::Malformed;
      }
      const ReplyReader::Event event = replies_.Next(data);
      if (event == ReplyReader::Event::Malformed) {
        socket_ = UniqueFd();
      }
      if (event != ReplyReader::Event::Incomplete) {
        return event;
      }
      const std::span<std::byte> space = replies_.FreeSpace();
      const ssize_t count = ::recv(socket_.Get(), space.data(), space.size(), MSG_DONTWAIT);
      if (count > 0) {
        replies_.Received(static_cast<std::size_t>(count));
        heardAt = wait.Now();
        continue;
      }
      const EventWait::TimePoint giveUpAt = heardAt + silence_;
      // The fetcher ended, or closed the reply, while it still owed some of it.
      if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
          wait.Now() >= giveUpAt) {
        socket_ = UniqueFd();
        continue;
      }
      pollfd watched{.fd = socket_.Get(), .events = POLLIN, .revents = 0};
      wait.Wait(std::span(&watched, 1), giveUpAt);
    }
  }

 private:
  UniqueFd socket_;
  std::chrono::milliseconds silence_;
  ReplyReader replies_;
};

class ChannelUrlHandle final : public UrlHandle {
 public:
  ChannelUrlHandle(std::unique_ptr<Reply> reply, EventWait& wait)
      : reply_(std::move(reply)), wait_(wait) {}

  ReadResult Read(std::span<std::byte> buffer) override {
    if (buffer.empty() || ended_) {
      return {ReadResult::Status::Failed, 0};
    }
    while (rest_.empty()) {
      switch (reply_->Next(wait_, rest_)) {
        case ReplyReader::Event::Data:
          break;
        case ReplyReader::Event::End:
          ended_ = true;
          return {ReadResult::Status::End, 0};
        default:
          ended_ = true;
          return {ReadResult::Status::Failed, 0};
      }
    }
    // The frame's bytes stay in the reply's buffer until they are all read out.
    const std::size_t count = std::min(buffer.size(), rest_.size());
    std::memcpy(buffer.data(), rest_.data(), count);
    rest_ = rest_.subspan(count);
    return {ReadResult::Status::Data, count};
  }

 private:
  std::unique_ptr<Reply> reply_;
  EventWait& wait_;
  std::span<const std::byte> rest_;
  bool ended_ = false;
};

class ChannelInternetHandle final : public InternetHandle {
 public:
  ChannelInternetHandle(int control, std::string agent, std::chrono::milliseconds silence,
                        EventWait& wait)
      : control_(control), agent_(std::move(agent)), silence_(silence), wait_(wait) {}

  std::unique_ptr<UrlHandle> OpenUrl(const std::string& url) override {
    const auto frame = channel::EncodeRequest({.agent = agent_, .url = url});
    int ends[2] = {-1, -1};
    if (!frame || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
      return nullptr;
    }
    UniqueFd ours(ends[0]);
    const UniqueFd theirs(ends[1]);
    // Room for several of the fetcher's frames in flight, so that it reads on while the
    // window's thread writes the file, and each side wakes less often.
    const int room = kReplyBufferBytes;
    ::setsockopt(theirs.Get(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    if (!SendRequest(control_, *frame, theirs.Get())) {
      return nullptr;
    }
    auto reply = std::make_unique<Reply>(std::move(ours), silence_);
    std::span<const std::byte> none;
    if (reply->Next(wait_, none) != ReplyReader::Event::Opened) {
      return nullptr;
    }
    return std::make_unique<ChannelUrlHandle>(std::move(reply), wait_);
  }

 private:
  int control_;
  std::string agent_;
  std::chrono::milliseconds silence_;
  EventWait& wait_;
};

}  // namespace

ChannelHttpClient::ChannelHttpClient(UniqueFd control, std::chrono::milliseconds silence)
    : control_(std::move(control)), silence_(silence) {}

std::unique_ptr<InternetHandle> ChannelHttpClient::Open(const std::string& agent, EventWait& wait) {
  if (!control_.IsOpen()) {
    return nullptr;
  }
  return std::make_unique<ChannelInternetHandle>(control_.Get(), agent, silence_, wait);
}

}  // namespace korvani::platform
