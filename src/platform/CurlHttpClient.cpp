#include "platform/CurlHttpClient.h"

#include <curl/curl.h>

#include <mutex>
#include <utility>

#include "platform/CurlTransfer.h"

namespace korvani::platform {
namespace {

// libcurl's global state is set up once for the process and never torn down:
// curl_global_cleanup is not thread-safe, and the program ends soon after its fetch.
bool CurlInitialised() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result == CURLE_OK;
}

class CurlSession final : public InternetHandle {
 public:
  CurlSession(std::string agent, const CurlTimeouts& timeouts)
      : agent_(std::move(agent)), timeouts_(timeouts) {}

  std::unique_ptr<UrlHandle> OpenUrl(const std::string& url) override {
    return CurlTransfer::Open(url, agent_, timeouts_, chore_);
  }

  void WhileWaiting(std::chrono::milliseconds interval, std::function<void()> serve) override {
    chore_ = {interval, std::move(serve)};
  }

 private:
  std::string agent_;
  CurlTimeouts timeouts_;
  WaitingChore chore_;
};

}  // namespace

CurlHttpClient::CurlHttpClient(CurlTimeouts timeouts) : timeouts_(timeouts) {}

std::unique_ptr<InternetHandle> CurlHttpClient::Open(const std::string& agent) {
  if (!CurlInitialised()) {
    return nullptr;
  }
  return std::make_unique<CurlSession>(agent, timeouts_);
}

}  // namespace korvani::platform
