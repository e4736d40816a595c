#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CurlDriver.h"

namespace korvani::platform {
namespace {

// Owners of the libcurl handles, so that every path out of a transfer releases them.

struct EasyHandleDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

struct UrlPartsDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlParts = std::unique_ptr<CURLU, UrlPartsDeleter>;

// What one call of the body callback hands over at most: libcurl's receive buffer,
// left at its default. A larger one makes a single perform read many buffers on a
// fast link, and all of it beyond the caller's read piles up in the spill.
constexpr std::size_t kReceiveBufferBytes = CURL_MAX_WRITE_SIZE;

// libcurl hands header lines over whole, so a line is a Location header exactly when
// it starts with the name and a colon.
bool IsLocationHeader(std::string_view line) {
  constexpr std::string_view kName = "location:";
  if (line.size() < kName.size()) {
    return false;
  }
  return std::equal(kName.begin(), kName.end(), line.begin(), [](char expected, char actual) {
    return expected == (actual >= 'A' && actual <= 'Z' ? actual - 'A' + 'a' : actual);
  });
}

bool IsEndOfHead(std::string_view line) {
  return line == "\r\n" || line == "\n";
}

// $CURL_CA_BUNDLE, else $SSL_CERT_FILE; null when neither names a file.
const char* TrustedCertificatesFile() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    if (const char* file = std::getenv(name); file != nullptr && *file != '\0') {
      return file;
    }
  }
  return nullptr;
}

bool IsHttpsUrl(CURLU* url) {
  char* scheme = nullptr;
  if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
    return false;
  }
  const bool https = curl_strequal(scheme, "https") != 0;
  curl_free(scheme);
  return https;
}

// One GET, driven by a CurlDriver only from inside OpenUrl and Read. It decides what
// the driver does not: the request's options, which response head is the final one,
// how long the server may stay silent, and where the body goes.
class CurlUrlHandle final : public UrlHandle {
 public:
  // Sends the GET and waits for the final response head. Returns nullptr when the
  // URL is malformed, the transfer fails before the head, or the status is not 2xx.
  static std::unique_ptr<CurlUrlHandle> Open(const std::string& url, const std::string& agent,
                                             const CurlTimeouts& timeouts, EventWait& wait);

  CurlUrlHandle(const CurlUrlHandle&) = delete;
  CurlUrlHandle& operator=(const CurlUrlHandle&) = delete;
  ~CurlUrlHandle() override = default;

  ReadResult Read(std::span<std::byte> buffer) override;

 private:
  using TimePoint = CurlDriver::TimePoint;

  CurlUrlHandle(const CurlTimeouts& timeouts, EventWait& wait);
  bool Start(const std::string& url, const std::string& agent);
  bool SetOptions(const std::string& agent);
  bool AwaitSuccessfulHead();

  // Drives the transfer until `ready()` holds, it has ended, or the server has been
  // silent for too long.
  template <typename Ready>
  void Drive(Ready ready);
  // When the transfer is given up, and so the latest moment the next wait may end:
  // once the server has been silent for too long, or the connection has taken too
  // long; nothing when that moment has passed.
  std::optional<TimePoint> GiveUpAt(TimePoint waitStarted) const;

  std::size_t TakeSpilled(std::span<std::byte> buffer);
  void ReceiveBody(const char* data, std::size_t size);
  void ReceiveHeaderLine(std::string_view line);

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static int OnRequestReady(void* self, char* /*ip*/, char* /*localIp*/, int /*port*/,
                            int /*localPort*/);

  CurlTimeouts timeouts_;

  // Declared in this order so that the driver lets the easy handle go first and the
  // URL it reads outlives it.
  UrlParts url_;
  EasyHandle easy_;
  CurlDriver driver_;

  // Response heads: only the final one (not 1xx, not a redirect) opens the body.
  bool headIsRedirect_ = false;
  bool finalHeadSeen_ = false;
  long finalStatus_ = 0;

  // No byte for this long, once a request is on its way, fails the transfer. libcurl's
  // own low-speed limit averages over seconds and would also cut a slow trickle.
  bool requestSent_ = false;
  TimePoint lastByteAt_{};

  // The caller's buffer during a Read, and how much of it the body has filled.
  std::span<std::byte> target_;
  std::size_t delivered_ = 0;
  // Body bytes libcurl handed over beyond the caller's buffer, read out first next time.
  std::vector<std::byte> spill_;
  std::size_t spillRead_ = 0;
};

CurlUrlHandle::CurlUrlHandle(const CurlTimeouts& timeouts, EventWait& wait)
    : timeouts_(timeouts), driver_(wait) {
  spill_.reserve(kReceiveBufferBytes);
}

std::unique_ptr<CurlUrlHandle> CurlUrlHandle::Open(const std::string& url, const std::string& agent,
                                                   const CurlTimeouts& timeouts, EventWait& wait) {
  // Not make_unique: the constructor is private. The callbacks hold this address,
  // so the object is made in place and never moves.
  std::unique_ptr<CurlUrlHandle> transfer(new CurlUrlHandle(timeouts, wait));
  if (!transfer->Start(url, agent) || !transfer->AwaitSuccessfulHead()) {
    return nullptr;
  }
  return transfer;
}

bool CurlUrlHandle::Start(const std::string& url, const std::string& agent) {
  url_.reset(curl_url());
  easy_.reset(curl_easy_init());
  if (!url_ || !easy_) {
    return false;
  }
  // Parsed without guessing a scheme: a URL that does not name one is malformed here,
  // where libcurl would otherwise quietly assume http://.
  if (curl_url_set(url_.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    return false;
  }
  return SetOptions(agent) && driver_.Start(easy_.get());
}

bool CurlUrlHandle::SetOptions(const std::string& agent) {
  CURL* easy = easy_.get();
  bool ok = true;
  const auto set = [&ok](CURLcode result) { ok = ok && result == CURLE_OK; };

  // The URL as parsed above, so that libcurl cannot read it differently.
  set(curl_easy_setopt(easy, CURLOPT_CURLU, url_.get()));
  // The server sees exactly the agent text the caller chose.
  set(curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str()));
  // A direct connection: an empty proxy overrides http_proxy, HTTPS_PROXY, ALL_PROXY
  // and the rest, and "*" exempts every host should a proxy still come from somewhere.
  set(curl_easy_setopt(easy, CURLOPT_PROXY, ""));
  set(curl_easy_setopt(easy, CURLOPT_NOPROXY, "*"));
  // Only web addresses may be fetched, and a redirect may not lead anywhere else
  // (file://, ftp://, ...). What came over HTTPS stays on it: a redirect down to plain
  // HTTP would hand the rest of the exchange to anyone on the path.
  set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
  set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR,
                       IsHttpsUrl(url_.get()) ? "https" : "http,https"));
  // Packages may move; a loop ends after ten hops instead of running forever.
  set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L));
  // A host that cannot be reached gives up instead of blocking the program. There is
  // deliberately no CURLOPT_TIMEOUT: a large download on a slow line may take long.
  set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                       static_cast<long>(timeouts_.connect.count())));
  // No signals: libcurl would otherwise time name lookups out with SIGALRM, which is not
  // safe in a program with other threads (Qt's among them).
  set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  // The body is delivered into the caller's buffer as it arrives.
  set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlUrlHandle::OnBody));
  set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, this));
  // Header lines tell which response head is the final one.
  set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlUrlHandle::OnHeader));
  set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, this));
  // Marks when a request is on its way, which starts the idle clock.
  set(curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CurlUrlHandle::OnRequestReady));
  set(curl_easy_setopt(easy, CURLOPT_PREREQDATA, this));
  // The trust store the environment names, as curl(1) and OpenSSL's own tools take it;
  // the system's otherwise.
  if (const char* bundle = TrustedCertificatesFile()) {
    set(curl_easy_setopt(easy, CURLOPT_CAINFO, bundle));
  }
  if (const char* folder = std::getenv("SSL_CERT_DIR"); folder != nullptr && *folder != '\0') {
    set(curl_easy_setopt(easy, CURLOPT_CAPATH, folder));
  }
  // Left at libcurl's defaults on purpose: certificates and host names of HTTPS
  // servers are verified (CURLOPT_SSL_VERIFYPEER, CURLOPT_SSL_VERIFYHOST), and no
  // Accept-Encoding is sent, so the body arrives exactly as the server stores it.
  return ok;
}

bool CurlUrlHandle::AwaitSuccessfulHead() {
  Drive([this] { return finalHeadSeen_; });
  return finalHeadSeen_ && finalStatus_ >= 200 && finalStatus_ <= 299;
}

ReadResult CurlUrlHandle::Read(std::span<std::byte> buffer) {
  if (buffer.empty()) {
    return {ReadResult::Status::Failed, 0};
  }
  const std::size_t spilled = TakeSpilled(buffer);
  if (spilled < buffer.size() && driver_.Outcome() == CurlDriver::State::Running) {
    target_ = buffer.subspan(spilled);
    delivered_ = 0;
    if (spilled > 0) {
      // Top the read up with whatever has already arrived, without waiting for more.
      driver_.ActOnWhatIsReady();
    } else {
      Drive([this] { return delivered_ > 0; });
    }
    target_ = {};
  }
  const std::size_t count = spilled + delivered_;
  delivered_ = 0;
  if (count > 0) {
    return {ReadResult::Status::Data, count};
  }
  if (driver_.Outcome() == CurlDriver::State::Succeeded) {
    return {ReadResult::Status::End, 0};
  }
  return {ReadResult::Status::Failed, 0};
}

template <typename Ready>
void CurlUrlHandle::Drive(Ready ready) {
  // Time spent by the caller between reads does not count as the server's silence.
  const TimePoint waitStarted = driver_.Now();
  driver_.Drive(ready, [this, waitStarted] { return GiveUpAt(waitStarted); });
}

std::optional<CurlUrlHandle::TimePoint> CurlUrlHandle::GiveUpAt(TimePoint waitStarted) const {
  // Before the request is on its way libcurl times the connection out itself; this
  // only stands behind it.
  const TimePoint ends = requestSent_ ? std::max(lastByteAt_, waitStarted) + timeouts_.idle
                                      : waitStarted + timeouts_.connect;
  if (driver_.Now() >= ends) {
    return std::nullopt;
  }
  return ends;
}

std::size_t CurlUrlHandle::TakeSpilled(std::span<std::byte> buffer) {
  const std::size_t count = std::min(buffer.size(), spill_.size() - spillRead_);
  if (count > 0) {
    std::memcpy(buffer.data(), spill_.data() + spillRead_, count);
    spillRead_ += count;
  }
  if (spillRead_ == spill_.size()) {
    // Keeps the capacity: the next spill needs no allocation.
    spill_.clear();
    spillRead_ = 0;
  }
  return count;
}

void CurlUrlHandle::ReceiveBody(const char* data, std::size_t size) {
  lastByteAt_ = driver_.Now();
  const std::size_t direct = std::min(size, target_.size() - delivered_);
  if (direct > 0) {
    std::memcpy(target_.data() + delivered_, data, direct);
    delivered_ += direct;
  }
  const auto* rest = reinterpret_cast<const std::byte*>(data + direct);
  spill_.insert(spill_.end(), rest, rest + (size - direct));
}

void CurlUrlHandle::ReceiveHeaderLine(std::string_view line) {
  lastByteAt_ = driver_.Now();
  if (finalHeadSeen_) {
    return;  // trailers after a chunked body
  }
  if (IsLocationHeader(line)) {
    headIsRedirect_ = true;
  }
  if (!IsEndOfHead(line)) {
    return;
  }
  long status = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
  // 1xx heads come before the real one; a 3xx with a Location is followed by libcurl
  // (or ends in an error when it may not be followed).
  const bool interim = status >= 100 && status <= 199;
  const bool redirect = status >= 300 && status <= 399 && headIsRedirect_;
  headIsRedirect_ = false;
  if (!interim && !redirect) {
    finalHeadSeen_ = true;
    finalStatus_ = status;
  }
}

std::size_t CurlUrlHandle::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  const std::size_t bytes = size * count;
  try {
    static_cast<CurlUrlHandle*>(self)->ReceiveBody(data, bytes);
  } catch (...) {
    // No exception may cross libcurl's C frames; a short count fails the transfer.
    return 0;
  }
  return bytes;
}

std::size_t CurlUrlHandle::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  const std::size_t bytes = size * count;
  static_cast<CurlUrlHandle*>(self)->ReceiveHeaderLine(std::string_view(data, bytes));
  return bytes;
}

int CurlUrlHandle::OnRequestReady(void* self, char* /*ip*/, char* /*localIp*/, int /*port*/,
                                  int /*localPort*/) {
  auto* transfer = static_cast<CurlUrlHandle*>(self);
  transfer->requestSent_ = true;
  transfer->lastByteAt_ = transfer->driver_.Now();
  return CURL_PREREQFUNC_OK;
}

// libcurl's global state is set up once for the process and never torn down:
// curl_global_cleanup is not thread-safe, and the program ends soon after its fetch.
bool CurlInitialised() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result == CURLE_OK;
}

// The session: every URL it opens is a transfer of its own, with the agent text, the
// time-outs and the wait the session was made with.
class CurlInternetHandle final : public InternetHandle {
 public:
  CurlInternetHandle(std::string agent, const CurlTimeouts& timeouts, EventWait& wait)
      : agent_(std::move(agent)), timeouts_(timeouts), wait_(wait) {}

  std::unique_ptr<UrlHandle> OpenUrl(const std::string& url) override {
    return CurlUrlHandle::Open(url, agent_, timeouts_, wait_);
  }

 private:
  std::string agent_;
  CurlTimeouts timeouts_;
  EventWait& wait_;
};

}  // namespace

CurlHttpClient::CurlHttpClient(CurlTimeouts timeouts) : timeouts_(timeouts) {}

std::unique_ptr<InternetHandle> CurlHttpClient::Open(const std::string& agent, EventWait& wait) {
  if (!CurlInitialised()) {
    return nullptr;
  }
  return std::make_unique<CurlInternetHandle>(agent, timeouts_, wait);
}

}  // namespace korvani::platform
