#include "support/fakes/FakeHttpClient.h"

#include <algorithm>
#include <new>
#include <utility>

namespace korvani::fakes {

FakeRead FakeRead::Data(std::vector<std::byte> bytes) {
  return {Kind::Data, std::move(bytes)};
}

std::vector<std::byte> PatternBytes(std::size_t count, std::size_t offset) {
  std::vector<std::byte> bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    // 251 is prime, so the pattern does not line up with any power-of-two read size.
    bytes[i] = static_cast<std::byte>((i + offset) % 251);
  }
  return bytes;
}

class FakeHttpClient::Url : public platform::UrlHandle {
 public:
  explicit Url(FakeHttpClient& client) : client_(client) {}
  ~Url() override { client_.log_.Add(QStringLiteral("http.closeUrl")); }
  Url(const Url&) = delete;
  Url& operator=(const Url&) = delete;

  platform::ReadResult Read(std::span<std::byte> buffer) override {
    return client_.NextRead(buffer);
  }

 private:
  FakeHttpClient& client_;
};

class FakeHttpClient::Session : public platform::InternetHandle {
 public:
  explicit Session(FakeHttpClient& client) : client_(client) {}
  ~Session() override { client_.log_.Add(QStringLiteral("http.close")); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::unique_ptr<platform::UrlHandle> OpenUrl(const std::string& url) override {
    client_.log_.Add("http.url " + url);
    if (client_.script_.openUrlFails) {
      return nullptr;
    }
    return std::make_unique<Url>(client_);
  }

 private:
  FakeHttpClient& client_;
};

FakeHttpClient::FakeHttpClient(EventLog& log, FakeHttpScript script)
    : log_(log), script_(std::move(script)), pending_(script_.reads.begin(), script_.reads.end()) {}

std::unique_ptr<platform::InternetHandle> FakeHttpClient::Open(const std::string& agent,
                                                               platform::EventWait& wait) {
  log_.Add("http.open " + agent);
  wait_ = &wait;
  if (script_.openFails) {
    return nullptr;
  }
  return std::make_unique<Session>(*this);
}

platform::ReadResult FakeHttpClient::NextRead(std::span<std::byte> buffer) {
  while (!pending_.empty() && pending_.front().kind == FakeRead::Kind::Silence) {
    pending_.pop_front();
    if (wait_ != nullptr) {
      wait_->Wait({}, platform::EventWait::TimePoint::max());
    }
  }
  log_.Add("http.read " + std::to_string(buffer.size()));
  readSizes_.push_back(buffer.size());
  readBuffers_.push_back(buffer.data());
  if (pending_.empty()) {
    return {platform::ReadResult::Status::End, 0};
  }
  FakeRead& next = pending_.front();
  switch (next.kind) {
    case FakeRead::Kind::End:
      pending_.pop_front();
      return {platform::ReadResult::Status::End, 0};
    case FakeRead::Kind::Failed:
      pending_.pop_front();
      return {platform::ReadResult::Status::Failed, 0};
    case FakeRead::Kind::Throws:
      pending_.pop_front();
      throw std::bad_alloc();
    case FakeRead::Kind::Data:
    case FakeRead::Kind::Silence:
      break;
  }
  const std::size_t count = std::min(buffer.size(), next.bytes.size() - deliveredOfFront_);
  std::copy_n(next.bytes.begin() + static_cast<std::ptrdiff_t>(deliveredOfFront_), count,
              buffer.begin());
  deliveredOfFront_ += count;
  if (deliveredOfFront_ == next.bytes.size()) {
    pending_.pop_front();
    deliveredOfFront_ = 0;
  }
  return {platform::ReadResult::Status::Data, count};
}

}  // namespace korvani::fakes
