#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/HttpClient.h"
#include "platform/UniqueFd.h"

namespace korvani::platform {

// The HTTP client of the window's process: it asks the fetcher, a process of its own at the
// other end of `control` (a Unix stream socket), to fetch each URL, and takes the reply as
// frames on a socket of the URL's own (platform/FetcherChannel.h). The window's process
// parses nothing the network sent, only the fetcher's frames, and trusts none of them: a
// frame that is malformed or out of order, a fetcher that ends or closes the reply, and a
// fetcher silent for longer than `silence`, each fail the URL. Closing a URL before its end
// closes its socket, which is how the fetcher learns that the transfer was abandoned.
//
// While it waits for the fetcher it sleeps in the session's wait, on the reply's socket
// beside whatever else the wait serves.
class ChannelHttpClient final : public HttpClient {
 public:
  // `silence`: the longest the fetcher may say nothing while it owes a reply; beyond its
  // own time-outs, it is not to be believed.
  ChannelHttpClient(UniqueFd control, std::chrono::milliseconds silence);

  // Returns nullptr when there is no fetcher (`control` is not open). A fetcher that is
  // gone later fails each URL instead, as an unreachable server does.
  std::unique_ptr<InternetHandle> Open(const std::string& agent, EventWait& wait) override;

 private:
  UniqueFd control_;
  std::chrono::milliseconds silence_;
};

}  // namespace korvani::platform
