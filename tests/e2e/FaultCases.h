#pragma once

// The runs of the whole program against a real server on loopback, shared by
// the in-process test (InProcessRun_test, which reads the result line) and the
// process test (ProgramFaults_test, which checks exit status and output).
#include <QStringList>
#include <QtTest>
#include <chrono>

#include "catalogue/SelectPackage.h"

namespace korvani::e2e {

struct FaultCase {
  enum class Server { Live, Refused, Unresolvable };
  // The host redirects to a second one on HTTPS, whose certificate is self-signed or
  // signed by a test CA that the program trusts. Or the program is a build on HTTPS, and
  // that second host, the origin, redirects down to plain HTTP or to itself.
  enum class Https { None, SelfSigned, TrustedCa, OriginToHttp, OriginToHttps };
  enum class Outcome { Saved, NothingSaved };

  QStringList hostArguments{};  // besides --generate
  Server server = Server::Live;
  Https https = Https::None;
  QStringList environment{};         // NAME=VALUE for the program
  bool destinationIsFolder = false;  // a folder of the package's name stands in the way
  Outcome outcome = Outcome::Saved;
  int requests = 1;  // requests of /downloads/ the host sees; -1: any number
  // Where the case runs. The window in the test's process shows the result line and
  // fails on any warning from Qt; a process adds its exit status and silence, the
  // program's own folder, the system's trust store and the real time-outs. So a case
  // runs as a process too when it ends at a stage of its own (served, no connection, a
  // stall midway, the file, the certificate) or waits on a real time-out.
  bool asProcess = false;
  bool inProcess = true;
  int processLastsAtLeastMs = 0;  // the real idle time-out, waited out in full
};

// Every case runs with the default settings, "xp" and "en", and fetches their package.
inline const catalogue::PackageChoice kChoice = catalogue::SelectPackage("xp", "en", "");
inline const QString kPackage = QString::fromStdString(kChoice.url).section('/', -1);
inline const QString kCompleteLine =
    QString("Download Complete: %1 KB").arg(kChoice.expectedKilobytes.value_or(0));
inline const QString kFailedLine = "Download Failed";

// Only a program in a process of its own can be made to trust the test CA: libcurl reads
// the system's trust store, which the process test replaces in a private mount namespace.
// The process runs keep the program's own 30 s time-outs; the in-process runs hand the
// HTTP client these, so that a stall costs seconds, not half a minute.
enum class Runner { InProcess, Process };
inline constexpr std::chrono::milliseconds kInProcessConnectTimeout{5000};
inline constexpr std::chrono::milliseconds kInProcessIdleTimeout{1500};

struct NamedFaultCase {
  QString name;
  FaultCase fault;
};

inline QList<NamedFaultCase> FaultCases(Runner runner) {
  using S = FaultCase::Server;
  using H = FaultCase::Https;
  using O = FaultCase::Outcome;
  const QStringList proxies{"http_proxy=http://127.0.0.1:9", "HTTP_PROXY=http://127.0.0.1:9",
                            "https_proxy=http://127.0.0.1:9", "ALL_PROXY=http://127.0.0.1:9"};
  const auto fault = [](const QString& mode) { return QStringList{"--fault", mode}; };
  // Held-back headers come well within the idle time-out; the trickle, a piece every
  // 0.1 s, lasts beyond the in-process one.
  const bool inProcess = runner == Runner::InProcess;
  const QString headerDelay = inProcess ? "0.5" : "5";
  const qint64 packageBytes = static_cast<qint64>(kChoice.expectedKilobytes.value_or(0)) * 1024;
  const QString trickleRate = QString::number(packageBytes / 2);
  QList<NamedFaultCase> cases;
  const auto add = [&](const QString& name, const FaultCase& row) {
    if (runner == Runner::InProcess ? row.inProcess : row.asProcess) {
      cases.append({name, row});
    }
  };
  add("served", FaultCase{.asProcess = true});
  add("connection refused",
      FaultCase{
          .server = S::Refused, .outcome = O::NothingSaved, .requests = 0, .asProcess = true});
  add("name does not resolve",
      FaultCase{.server = S::Unresolvable, .outcome = O::NothingSaved, .requests = 0});
  add("404", FaultCase{.hostArguments = fault("status:404"), .outcome = O::NothingSaved});
  add("500", FaultCase{.hostArguments = fault("status:500"), .outcome = O::NothingSaved});
  add("body cut short", FaultCase{.hostArguments = fault("short"), .outcome = O::NothingSaved});
  add("chunked body cut short",
      FaultCase{.hostArguments = fault("chunked-short"), .outcome = O::NothingSaved});
  add("empty body", FaultCase{.hostArguments = fault("empty"), .outcome = O::NothingSaved});
  // Under a 200, with the length they announce: only the pin tells them from the package.
  add("one byte flipped",
      FaultCase{.hostArguments = fault("flip-byte"), .outcome = O::NothingSaved});
  add("a captive portal's page",
      FaultCase{.hostArguments = fault("portal"), .outcome = O::NothingSaved});
  add("redirect followed", FaultCase{.hostArguments = fault("redirect")});
  add("redirect to file://",
      FaultCase{.hostArguments = fault("redirect-file"), .outcome = O::NothingSaved});
  add("redirect loop",
      FaultCase{
          .hostArguments = fault("redirect-loop"), .outcome = O::NothingSaved, .requests = -1});
  add("headers after " + headerDelay + " s",
      FaultCase{.hostArguments = fault("delay-headers:" + headerDelay), .asProcess = true});
  add("slow trickle that keeps moving",
      FaultCase{.hostArguments = fault("trickle:" + trickleRate)});
  add("destination cannot be written",
      FaultCase{.destinationIsFolder = true, .outcome = O::NothingSaved, .asProcess = true});
  add("proxy variables ignored", FaultCase{.environment = proxies});
  add("HTTPS, self-signed certificate",
      FaultCase{.https = H::SelfSigned, .outcome = O::NothingSaved, .asProcess = true});
  add("HTTPS, trusted test CA",
      FaultCase{.https = H::TrustedCa, .asProcess = true, .inProcess = false});
  add("HTTPS origin, redirect down to HTTP", FaultCase{.https = H::OriginToHttp,
                                                       .outcome = O::NothingSaved,
                                                       .requests = 0,
                                                       .asProcess = true,
                                                       .inProcess = false});
  add("HTTPS origin, redirect to HTTPS",
      FaultCase{.https = H::OriginToHttps, .requests = 0, .asProcess = true, .inProcess = false});
  // The idle time-out without a byte before the transfer is given up.
  add("stall after some bytes", FaultCase{.hostArguments = fault("stall:60"),
                                          .outcome = O::NothingSaved,
                                          .asProcess = true,
                                          .processLastsAtLeastMs = 30000});
  return cases;
}

inline void AddFaultCases(Runner runner) {
  QTest::addColumn<FaultCase>("fault");
  for (const auto& [name, fault] : FaultCases(runner)) {
    QTest::newRow(qPrintable(name)) << fault;
  }
}

}  // namespace korvani::e2e

Q_DECLARE_METATYPE(korvani::e2e::FaultCase)
