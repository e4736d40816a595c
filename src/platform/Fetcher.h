#pragma once

#include "platform/Clock.h"
#include "platform/HttpClient.h"

namespace korvani::platform {

// The fetcher's side of the channel (platform/FetcherChannel.h): answers each request that
// comes over `control`, a stream socket, by fetching it with `http` and replying on the
// socket that came with it. Returns once the window's side closes `control`. While it
// waits for the network it watches both sockets too: a reply's socket that closes abandons
// that transfer, and the control socket that closes (or carries a new request) ends it at
// once. Sends with MSG_NOSIGNAL, so a closed socket is an error, never a SIGPIPE.
void ServeFetches(int control, HttpClient& http, const Clock& clock);

}  // namespace korvani::platform
