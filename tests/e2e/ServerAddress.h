#pragma once

#include <QString>
#include <QTcpServer>

#include "e2e/FaultCases.h"
#include "support/host/PackageHostProcess.h"

namespace korvani::e2e {

// The host[:port] the program is sent to for a case: the running package host,
// a port nobody listens on, or a name no resolver knows.
inline QString ServerAddress(const FaultCase& fault, const host::PackageHostProcess& host) {
  switch (fault.server) {
    case FaultCase::Server::Refused: {
      QTcpServer closed;
      closed.listen(QHostAddress::LocalHost);
      return QString("127.0.0.1:%1").arg(closed.serverPort());  // free again once `closed` goes
    }
    case FaultCase::Server::Unresolvable:
      return "packages.invalid";
    case FaultCase::Server::Live:
      break;
  }
  return host.HostAndPort();
}

}  // namespace korvani::e2e
