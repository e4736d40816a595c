#pragma once

// The runs of the whole program against a real server on loopback, shared by
// the in-process test (which reads the result line) and the process test
// (which checks exit status, output and the window).
#include <QStringList>
#include <QtTest>

namespace korvani::e2e {

struct FaultCase {
  enum class Server { Live, Refused, Unresolvable };
  // The host redirects to a second one on HTTPS, whose certificate is self-signed or
  // signed by a test CA that the program trusts.
  enum class Https { None, SelfSigned, TrustedCa };
  enum class Outcome { Saved, NothingSaved };

  QStringList hostArguments{};  // besides --generate
  Server server = Server::Live;
  Https https = Https::None;
  QStringList environment{};         // NAME=VALUE for the program
  bool destinationIsFolder = false;  // a folder of the package's name stands in the way
  Outcome outcome = Outcome::Saved;
  int requests = 1;  // requests of /downloads/ the host sees; -1: any number
};

// "xp en" is the package every case fetches: RUD_UZ7_en.exe, 793 KB.
inline const char* kPackage = "RUD_UZ7_en.exe";
inline const char* kCompleteLine = "Download Complete: 793 KB";
inline const char* kFailedLine = "Download Failed";

// Only a program in a process of its own can be made to trust the test CA: libcurl reads
// the system's trust store, which the process test replaces in a private mount namespace.
enum class Runner { InProcess, Process };

inline void AddFaultCases(Runner runner) {
  QTest::addColumn<FaultCase>("fault");
  using S = FaultCase::Server;
  using H = FaultCase::Https;
  using O = FaultCase::Outcome;
  const QStringList proxies{"http_proxy=http://127.0.0.1:9", "HTTP_PROXY=http://127.0.0.1:9",
                            "https_proxy=http://127.0.0.1:9", "ALL_PROXY=http://127.0.0.1:9"};
  const auto fault = [](const char* mode) { return QStringList{"--fault", mode}; };
  QTest::newRow("served") << FaultCase{};
  QTest::newRow("connection refused")
      << FaultCase{.server = S::Refused, .outcome = O::NothingSaved, .requests = 0};
  QTest::newRow("name does not resolve")
      << FaultCase{.server = S::Unresolvable, .outcome = O::NothingSaved, .requests = 0};
  QTest::newRow("404") << FaultCase{.hostArguments = fault("status:404"),
                                    .outcome = O::NothingSaved};
  QTest::newRow("500") << FaultCase{.hostArguments = fault("status:500"),
                                    .outcome = O::NothingSaved};
  QTest::newRow("body cut short") << FaultCase{.hostArguments = fault("short"),
                                               .outcome = O::NothingSaved};
  QTest::newRow("chunked body cut short")
      << FaultCase{.hostArguments = fault("chunked-short"), .outcome = O::NothingSaved};
  QTest::newRow("empty body") << FaultCase{.hostArguments = fault("empty"),
                                           .outcome = O::NothingSaved};
  QTest::newRow("redirect followed") << FaultCase{.hostArguments = fault("redirect")};
  QTest::newRow("redirect to file://")
      << FaultCase{.hostArguments = fault("redirect-file"), .outcome = O::NothingSaved};
  QTest::newRow("redirect loop") << FaultCase{
      .hostArguments = fault("redirect-loop"), .outcome = O::NothingSaved, .requests = -1};
  QTest::newRow("headers after 5 s") << FaultCase{.hostArguments = fault("delay-headers:5")};
  QTest::newRow("slow trickle that keeps moving")
      << FaultCase{.hostArguments = fault("trickle:200000")};
  QTest::newRow("destination cannot be written")
      << FaultCase{.destinationIsFolder = true, .outcome = O::NothingSaved};
  QTest::newRow("proxy variables ignored") << FaultCase{.environment = proxies};
  QTest::newRow("HTTPS, self-signed certificate")
      << FaultCase{.https = H::SelfSigned, .outcome = O::NothingSaved};
  if (runner == Runner::Process) {
    QTest::newRow("HTTPS, trusted test CA") << FaultCase{.https = H::TrustedCa};
  }
  // Thirty seconds without a byte before the transfer is given up.
  QTest::newRow("stall after some bytes")
      << FaultCase{.hostArguments = fault("stall:60"), .outcome = O::NothingSaved};
}

}  // namespace korvani::e2e

Q_DECLARE_METATYPE(korvani::e2e::FaultCase)
