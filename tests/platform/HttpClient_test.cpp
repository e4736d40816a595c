#include "platform/HttpClient.h"

#include <QByteArray>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

#include "support/ScopedEnvironment.h"
#include "support/host/PackageHostProcess.h"

using korvani::host::PackageHostProcess;
using korvani::platform::CurlHttpClient;
using korvani::platform::CurlTimeouts;
using korvani::platform::ReadResult;
using korvani::support::ScopedEnvironment;

namespace {

constexpr const char* kAgent = "VB Program";
constexpr int kFetchReadSize = 8162;
const QString kPackage = QStringLiteral("package.exe");

enum class Outcome {
  WholeBody,    // opened, every byte in order, then End
  EmptyBody,    // opened, End at once
  NoHandle,     // OpenUrl gave nullptr
  FailsMidway,  // opened, the start of the body, then Failed
};

struct Fetched {
  bool opened = false;
  QByteArray body;
  ReadResult::Status last = ReadResult::Status::End;
  std::size_t largestRead = 0;
  bool wroteBeyondBuffer = false;
  int waits = 0;  // how often the client slept in the wait it was given
};

// The plain wait, counted.
class CountingWait final : public korvani::platform::EventWait {
 public:
  void Wait(std::span<pollfd> watched, TimePoint deadline) override {
    ++count;
    poll_.Wait(watched, deadline);
  }
  int count = 0;

 private:
  korvani::platform::PollEventWait poll_;
};

// Short, so that a case that waits one out takes a second, not the program's 30 s; the
// process test of the whole program runs with those.
constexpr CurlTimeouts kTimeouts{.connect = std::chrono::seconds(5),
                                 .idle = std::chrono::seconds(1)};

// How the host answers a request for kPackage, and what the client makes of it.
struct Answer {
  QString fault = "none";
  int size = 300000;  // of the package, in bytes
  int readSize = kFetchReadSize;
  Outcome outcome = Outcome::WholeBody;
  // At most this many waits in all (-1: any number): a silent server must not
  // wake the client by the clock.
  int mostWaits = -1;
};

// Reads like the fetch does: one buffer, used again by every read. The bytes behind
// the buffer's end are watched, so that a read that stores too much is caught.
Fetched Fetch(const QString& url, int readSize) {
  constexpr std::byte kGuard{0xA5};
  constexpr std::size_t kGuardBytes = 64;
  Fetched fetched;
  CurlHttpClient client(kTimeouts);
  CountingWait wait;
  const auto session = client.Open(kAgent, wait);
  if (!session) {
    return fetched;
  }
  const auto handle = session->OpenUrl(url.toStdString());
  fetched.waits = wait.count;
  if (!handle) {
    return fetched;
  }
  fetched.opened = true;
  const auto size = static_cast<std::size_t>(readSize);
  std::vector<std::byte> buffer(size + kGuardBytes, kGuard);
  for (;;) {
    const ReadResult read = handle->Read(std::span(buffer).first(size));
    fetched.wroteBeyondBuffer = fetched.wroteBeyondBuffer ||
                                std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(size),
                                            buffer.end(), [](std::byte b) { return b != kGuard; });
    if (read.status != ReadResult::Status::Data) {
      fetched.last = read.status;
      fetched.waits = wait.count;
      return fetched;
    }
    fetched.largestRead = std::max(fetched.largestRead, read.count);
    fetched.body.append(reinterpret_cast<const char*>(buffer.data()),
                        static_cast<qsizetype>(read.count));
  }
}

// A loopback port nothing listens on: the port of a host that has been stopped.
quint16 ClosedPort() {
  PackageHostProcess host;
  const quint16 port = host.Port();
  host.Stop();
  return port;
}

}  // namespace

Q_DECLARE_METATYPE(Answer)

class CurlHttpClientTest : public QObject {
  Q_OBJECT

 private slots:
  void deliversWhatTheServerAnswers_data();
  void deliversWhatTheServerAnswers();
  void sendsOneGetWithTheAgentText();
  void givesUpARedirectLoopAfterTenHops();
  void ignoresProxyEnvironment_data();
  void ignoresProxyEnvironment();
  void opensNothingItMayNotFetch_data();
  void opensNothingItMayNotFetch();
};

void CurlHttpClientTest::deliversWhatTheServerAnswers_data() {
  QTest::addColumn<Answer>("answer");

  QTest::newRow("whole body") << Answer{};
  QTest::newRow("large body") << Answer{.size = 16 << 20};
  QTest::newRow("body of exactly one read") << Answer{.size = kFetchReadSize};
  QTest::newRow("body shorter than one read") << Answer{.size = 100};
  QTest::newRow("reads smaller than what arrives at once") << Answer{.readSize = 1000};
  QTest::newRow("one-byte reads") << Answer{.size = 20000, .readSize = 1};
  QTest::newRow("redirect followed") << Answer{.fault = "redirect"};
  QTest::newRow("head delayed within the idle time-out") << Answer{.fault = "delay-headers:0.3"};
  QTest::newRow("head later than the idle time-out")
      << Answer{.fault = "delay-headers:5", .outcome = Outcome::NoHandle, .mostWaits = 6};
  // 1.5 s in all, but never 0.1 s without a byte.
  QTest::newRow("slow trickle outlasts the idle time-out")
      << Answer{.fault = "trickle:40000", .size = 60000};
  QTest::newRow("empty body") << Answer{.fault = "empty", .outcome = Outcome::EmptyBody};
  QTest::newRow("204 no content") << Answer{.fault = "status:204", .outcome = Outcome::EmptyBody};
  QTest::newRow("404 not found") << Answer{.fault = "status:404", .outcome = Outcome::NoHandle};
  QTest::newRow("500 server error") << Answer{.fault = "status:500", .outcome = Outcome::NoHandle};
  QTest::newRow("redirect without a target")
      << Answer{.fault = "status:302", .outcome = Outcome::NoHandle};
  QTest::newRow("redirect to file://")
      << Answer{.fault = "redirect-file", .outcome = Outcome::NoHandle};
  QTest::newRow("redirect loop") << Answer{.fault = "redirect-loop", .outcome = Outcome::NoHandle};
  QTest::newRow("body shorter than Content-Length")
      << Answer{.fault = "short", .outcome = Outcome::FailsMidway};
  QTest::newRow("chunked body without its last chunk")
      << Answer{.fault = "chunked-short", .outcome = Outcome::FailsMidway};
  QTest::newRow("stall longer than the idle time-out")
      << Answer{.fault = "stall:20", .outcome = Outcome::FailsMidway, .mostWaits = 12};
}

void CurlHttpClientTest::deliversWhatTheServerAnswers() {
  QFETCH(Answer, answer);
  const auto& [fault, size, readSize, outcome, mostWaits] = answer;
  PackageHostProcess host(
      {"--port", "0", "--file", QStringLiteral("%1=%2").arg(kPackage).arg(size), "--fault", fault});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));

  const Fetched fetched = Fetch(host.Url(kPackage), readSize);

  const QByteArray served = PackageHostProcess::GeneratedContent(kPackage, size);
  QVERIFY(!fetched.wroteBeyondBuffer);
  QVERIFY(fetched.largestRead <= static_cast<std::size_t>(readSize));
  if (mostWaits >= 0) {
    QVERIFY2(fetched.waits <= mostWaits, qPrintable(QString::number(fetched.waits)));
  }
  switch (outcome) {
    case Outcome::WholeBody:
      QVERIFY(fetched.opened);
      QCOMPARE(fetched.last, ReadResult::Status::End);
      QCOMPARE(fetched.body.size(), served.size());
      QVERIFY(fetched.body == served);
      break;
    case Outcome::EmptyBody:
      QVERIFY(fetched.opened);
      QCOMPARE(fetched.last, ReadResult::Status::End);
      QCOMPARE(fetched.body, QByteArray());
      break;
    case Outcome::NoHandle:
      QVERIFY(!fetched.opened);
      break;
    case Outcome::FailsMidway:
      QVERIFY(fetched.opened);
      QCOMPARE(fetched.last, ReadResult::Status::Failed);
      QVERIFY2(fetched.body.size() < served.size(), "the whole body arrived");
      QVERIFY2(served.startsWith(fetched.body), "the bytes before the failure differ");
      break;
  }
}

void CurlHttpClientTest::sendsOneGetWithTheAgentText() {
  PackageHostProcess host({"--port", "0", "--file", kPackage + "=1000"});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));

  QVERIFY(Fetch(host.Url(kPackage), kFetchReadSize).opened);

  QCOMPARE(host.RequestLog(), QStringList{"GET /downloads/package.exe VB Program"});
}

void CurlHttpClientTest::givesUpARedirectLoopAfterTenHops() {
  PackageHostProcess host(
      {"--port", "0", "--file", kPackage + "=1000", "--fault", "redirect-loop"});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));

  QVERIFY(!Fetch(host.Url(kPackage), kFetchReadSize).opened);

  QCOMPARE(host.RequestLog().size(), 1 + 10);
}

void CurlHttpClientTest::ignoresProxyEnvironment_data() {
  QTest::addColumn<QByteArray>("variable");

  QTest::newRow("http_proxy") << QByteArray("http_proxy");
  QTest::newRow("HTTP_PROXY") << QByteArray("HTTP_PROXY");
  QTest::newRow("all_proxy") << QByteArray("all_proxy");
  QTest::newRow("ALL_PROXY") << QByteArray("ALL_PROXY");
}

// A proxy that is not there: any use of it fails the fetch.
void CurlHttpClientTest::ignoresProxyEnvironment() {
  QFETCH(QByteArray, variable);
  PackageHostProcess host({"--port", "0", "--file", kPackage + "=50000"});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  ScopedEnvironment environment;
  environment.Set(variable, "http://127.0.0.1:" + QByteArray::number(ClosedPort()));
  environment.Set("no_proxy", "");
  environment.Set("NO_PROXY", "");

  const Fetched fetched = Fetch(host.Url(kPackage), kFetchReadSize);

  QVERIFY(fetched.opened);
  QCOMPARE(fetched.last, ReadResult::Status::End);
  QVERIFY(fetched.body == PackageHostProcess::GeneratedContent(kPackage, 50000));
}

void CurlHttpClientTest::opensNothingItMayNotFetch_data() {
  QTest::addColumn<QString>("url");  // %1: host and port of a live host; %2: a closed port

  QTest::newRow("connection refused") << "http://127.0.0.1:%2/downloads/package.exe";
  QTest::newRow("no scheme") << "%1/downloads/package.exe";
  QTest::newRow("ftp") << "ftp://%1/downloads/package.exe";
  QTest::newRow("file") << "file:///etc/hostname";
  QTest::newRow("empty") << "";
  QTest::newRow("not a URL") << "http://";
}

void CurlHttpClientTest::opensNothingItMayNotFetch() {
  QFETCH(QString, url);
  PackageHostProcess host({"--port", "0", "--file", kPackage + "=1000"});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  if (url.contains("%2")) {
    url = url.arg(host.HostAndPort(), QString::number(ClosedPort()));
  } else if (url.contains("%1")) {
    url = url.arg(host.HostAndPort());
  }

  QVERIFY(!Fetch(url, kFetchReadSize).opened);

  QCOMPARE(host.RequestLog(), QStringList());
}

QTEST_GUILESS_MAIN(CurlHttpClientTest)
#include "HttpClient_test.moc"
