#include "platform/CurlDriver.h"

#include <algorithm>
#include <chrono>

namespace korvani::platform {

CurlDriver::CurlDriver(EventWait& wait) : wait_(wait) {}

CurlDriver::~CurlDriver() {
  if (joined_ != nullptr) {
    curl_multi_remove_handle(multi_.get(), joined_);
  }
}

bool CurlDriver::Start(CURL* easy) {
  multi_.reset(curl_multi_init());
  if (!multi_) {
    return false;
  }
  // libcurl tells which sockets to watch and when to time out, instead of polling
  // them itself: the one wait of the thread does both.
  CURLM* multi = multi_.get();
  if (curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &CurlDriver::OnSocket) != CURLM_OK ||
      curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this) != CURLM_OK ||
      curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &CurlDriver::OnTimer) != CURLM_OK ||
      curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this) != CURLM_OK) {
    return false;
  }
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    return false;
  }
  joined_ = easy;
  return true;
}

void CurlDriver::ActOnWhatIsReady() {
  PollReady(watched_, 0);
  ActOnReadiness();
}

void CurlDriver::ActOnReadiness() {
  ready_.clear();
  for (const pollfd& entry : watched_) {
    if (entry.revents != 0) {
      ready_.push_back(entry);
    }
  }
  // By index, and each entry read afresh: WatchSocket clears the entry of a socket
  // that libcurl removes while another is acted on, whose number may already be reused.
  for (std::size_t i = 0; i < ready_.size(); ++i) {
    const short revents = ready_[i].revents;
    if (revents == 0) {
      continue;
    }
    int events = 0;
    events |= (revents & POLLIN) != 0 ? CURL_CSELECT_IN : 0;
    events |= (revents & POLLOUT) != 0 ? CURL_CSELECT_OUT : 0;
    events |= (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? CURL_CSELECT_ERR : 0;
    ActOnSocket(ready_[i].fd, events);
  }
  if (curlTimeoutAt_ && Now() >= *curlTimeoutAt_) {
    curlTimeoutAt_.reset();
    // Early by libcurl's own clock (the wait's may run ahead of it) is harmless:
    // libcurl then announces the same time-out again.
    ActOnSocket(CURL_SOCKET_TIMEOUT, 0);
  }
}

void CurlDriver::ActOnSocket(curl_socket_t socket, int events) {
  int running = 0;
  if (curl_multi_socket_action(multi_.get(), socket, events, &running) != CURLM_OK) {
    state_ = State::Failed;
    return;
  }
  int queued = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
    if (message->msg == CURLMSG_DONE) {
      // CURLE_OK only when the body ended as announced: a short body, a chunked body
      // without its last chunk and a reset connection all come back as errors.
      state_ = message->data.result == CURLE_OK ? State::Succeeded : State::Failed;
    }
  }
}

void CurlDriver::WatchSocket(curl_socket_t socket, int what) {
  const auto known = std::find_if(watched_.begin(), watched_.end(),
                                  [socket](const pollfd& entry) { return entry.fd == socket; });
  if (what == CURL_POLL_REMOVE) {
    if (known != watched_.end()) {
      watched_.erase(known);
    }
    for (pollfd& entry : ready_) {
      if (entry.fd == socket) {
        entry.revents = 0;
      }
    }
    return;
  }
  short events = 0;
  events |= (what & CURL_POLL_IN) != 0 ? POLLIN : 0;
  events |= (what & CURL_POLL_OUT) != 0 ? POLLOUT : 0;
  if (known != watched_.end()) {
    known->events = events;
  } else {
    watched_.push_back(pollfd{.fd = socket, .events = events, .revents = 0});
  }
}

void CurlDriver::SetTimer(long timeoutMs) {
  if (timeoutMs < 0) {
    curlTimeoutAt_.reset();
  } else {
    curlTimeoutAt_ = Now() + std::chrono::milliseconds(timeoutMs);
  }
}

int CurlDriver::OnSocket(CURL* /*easy*/, curl_socket_t socket, int what, void* self,
                         void* /*socketData*/) {
  try {
    static_cast<CurlDriver*>(self)->WatchSocket(socket, what);
  } catch (...) {
    return -1;  // no room to watch it: libcurl fails the transfer
  }
  return 0;
}

int CurlDriver::OnTimer(CURLM* /*multi*/, long timeoutMs, void* self) {
  static_cast<CurlDriver*>(self)->SetTimer(timeoutMs);
  return 0;
}

}  // namespace korvani::platform
