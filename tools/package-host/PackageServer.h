#pragma once

#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvani::packagehost {

// httplib::Server or httplib::SSLServer, with a stop that works at any time. httplib's
// stop() does nothing until the accept loop has begun, so a signal that arrives just after
// the port line would be lost. Closing the listening socket directly works in both orders:
// the loop either ends or never starts.
template <typename Base>
class PackageServer : public Base {
 public:
  using Base::Base;

  void StopListening() {
    const socket_t listening = this->svr_sock_.exchange(INVALID_SOCKET);
    if (listening != INVALID_SOCKET) {
      ::shutdown(listening, SHUT_RDWR);
      ::close(listening);
    }
  }
};

}  // namespace korvani::packagehost
