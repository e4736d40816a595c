#pragma once

#include <sys/types.h>

#include <string>

#include "platform/Confinement.h"
#include "platform/HttpClient.h"
#include "platform/UniqueFd.h"

namespace korvani::startup {

// The fetcher: a child process that does all of the program's network work (name lookup,
// TCP, TLS, HTTP, redirects and time-outs, with libcurl) and holds nothing else. It is
// forked before Qt and before any thread, so it never has a connection to the display or
// the session bus; it keeps no descriptor but its channel and /dev/null on 0 to 2, confines
// itself (ConfineFetcherProcess) before it reads a byte from the network, and serves the
// window's process over the channel (platform/Fetcher.h) until that closes: when this
// object goes, or the window's process ends, however it ends. The control socket's end,
// not PR_SET_PDEATHSIG, tells it so: the signal would also come when the thread that
// forked it ends, which the restart after display loss does when it execs from another
// thread (Qt's Wayland reader).
//
// The restart after display loss keeps the fetcher: the window's process is confined by
// then, and Landlock's rules outlive an exec, so a fetcher forked anew would inherit the
// window's (no TCP at all). The control socket stays open across the exec instead, named
// to the restart by InheritanceVariable(); the abandoned reply's socket closes with it.
class FetcherProcess {
 public:
  // Takes over the fetcher of the run this one restarts, if it is such a restart and was
  // handed one; forks a new fetcher otherwise. Only the window's process returns; without
  // a fetcher (no process or socket to be had) the channel is not open.
  FetcherProcess(const platform::ConfinementInputs& confinement,
                 const platform::CurlTimeouts& timeouts);
  FetcherProcess(const FetcherProcess&) = delete;
  FetcherProcess& operator=(const FetcherProcess&) = delete;
  // Closes the channel, which ends the fetcher, and reaps it.
  ~FetcherProcess();

  // The control socket's number while the object owns it; -1 without a fetcher.
  int Control() const { return channel_.Get(); }
  // "KORVANI_FETCHER=<control socket>,<process id>" for the restart's environment; empty
  // without a fetcher.
  std::string InheritanceVariable() const;
  // The window's end of the control socket, for the HTTP client; handed out once.
  platform::UniqueFd TakeChannel() { return std::move(channel_); }

 private:
  bool Inherit();
  void Fork(const platform::ConfinementInputs& confinement, const platform::CurlTimeouts& timeouts);

  pid_t child_ = -1;
  platform::UniqueFd channel_;
};

}  // namespace korvani::startup
