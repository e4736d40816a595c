#pragma once

#include <curl/curl.h>
#include <poll.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "platform/EventWait.h"

namespace korvani::platform {

// Runs one libcurl easy handle on a multi handle of its own through libcurl's socket
// interface: libcurl says which sockets to watch, for what, and when its next time-out
// is due, and the driver sleeps on all of that in one EventWait. It decides nothing
// about the transfer; the caller says when to stop and how long it may wait.
// Pull, no threads: libcurl only runs inside Drive() and ActOnWhatIsReady().
class CurlDriver {
 public:
  using TimePoint = EventWait::TimePoint;

  enum class State {
    Running,
    Succeeded,  // libcurl ended the transfer with CURLE_OK
    Failed,     // libcurl ended it with an error, or the driver could not go on
  };

  // `wait` must outlive the driver.
  explicit CurlDriver(EventWait& wait);
  CurlDriver(const CurlDriver&) = delete;
  CurlDriver& operator=(const CurlDriver&) = delete;
  ~CurlDriver();

  // Adds `easy`, which must outlive the driver, to a multi handle of its own. False
  // when libcurl refuses; the driver is then of no further use.
  bool Start(CURL* easy);

  State Outcome() const { return state_; }
  // The time base of the wait the driver sleeps in.
  TimePoint Now() const { return wait_.Now(); }

  // Runs libcurl until `done()` holds or the transfer has ended, sleeping in the wait
  // in between. Before each sleep `limit()` gives the latest moment that sleep may
  // end, or nothing when the transfer is to be given up now (it then counts as failed).
  template <typename Done, typename Limit>
  void Drive(Done done, Limit limit);

  // Hands libcurl whatever is ready now, without sleeping.
  void ActOnWhatIsReady();

 private:
  struct MultiHandleDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
  };

  // Hands libcurl the sockets that `watched_` says are ready, and its time-out when due.
  void ActOnReadiness();
  void ActOnSocket(curl_socket_t socket, int events);
  void WatchSocket(curl_socket_t socket, int what);
  void SetTimer(long timeoutMs);

  static int OnSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
  static int OnTimer(CURLM* multi, long timeoutMs, void* self);

  EventWait& wait_;
  State state_ = State::Running;

  // What libcurl asked to be told about: its sockets with the events it waits for,
  // and when its own time-out runs out. Declared before the multi handle, whose
  // cleanup may still report a socket gone.
  std::vector<pollfd> watched_;
  std::optional<TimePoint> curlTimeoutAt_;
  // The sockets found ready by the last wait, acted on once it has returned: acting
  // changes watched_. An entry whose socket libcurl removes meanwhile is cleared.
  std::vector<pollfd> ready_;

  std::unique_ptr<CURLM, MultiHandleDeleter> multi_;
  // The easy handle while it is in the multi handle: it leaves before the multi handle
  // is cleaned up, as libcurl requires.
  CURL* joined_ = nullptr;
};

template <typename Done, typename Limit>
void CurlDriver::Drive(Done done, Limit limit) {
  for (;;) {
    if (done() || state_ != State::Running) {
      return;
    }
    const std::optional<TimePoint> latest = limit();
    if (!latest) {
      state_ = State::Failed;
      return;
    }
    wait_.Wait(watched_, std::min(*latest, curlTimeoutAt_.value_or(TimePoint::max())));
    ActOnReadiness();
  }
}

}  // namespace korvani::platform
