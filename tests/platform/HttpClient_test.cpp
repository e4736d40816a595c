#include "platform/HttpClient.h"

#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <QByteArray>
#include <QtTest>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/UniqueFd.h"
#include "support/ScopedEnvironment.h"
#include "support/host/PackageHostProcess.h"

using korvani::host::PackageHostProcess;
using korvani::platform::CurlHttpClient;
using korvani::platform::CurlTimeouts;
using korvani::platform::EventWait;
using korvani::platform::ReadResult;
using korvani::platform::UniqueFd;
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
  std::chrono::steady_clock::duration openTook{};
  // The call that ended the fetch: OpenUrl when it opened nothing, else the last Read.
  std::chrono::steady_clock::duration endTook{};
};

const korvani::platform::SystemClock kClock;

// The two waits a client meets: the plain one, and the program's, on Qt's dispatcher.
enum class WaitKind { Poll, Desktop };

// One of the waits, counted.
class CountingWait final : public EventWait {
 public:
  explicit CountingWait(WaitKind kind)
      : EventWait(kClock),
        wait_(kind == WaitKind::Poll
                  ? std::unique_ptr<EventWait>(new korvani::platform::PollEventWait(kClock))
                  : std::unique_ptr<EventWait>(new korvani::platform::DesktopEventWait(kClock))) {}
  void Wait(std::span<pollfd> watched, TimePoint deadline) override {
    ++count;
    wait_->Wait(watched, deadline);
  }
  int count = 0;

 private:
  std::unique_ptr<EventWait> wait_;
};

// Short, so that a case that waits one out takes a second, not the program's 30 s; the
// process test of the whole program runs with those.
constexpr CurlTimeouts kTimeouts{.connect = std::chrono::seconds(5),
                                 .idle = std::chrono::seconds(1)};
// A silent server is given up at the idle time-out, not at libcurl's next timer of its
// own (the connect time-out) or when the server hangs up; the rest is room for a busy
// machine.
constexpr auto kGivesUpAfterSilence = kTimeouts.idle + std::chrono::milliseconds(1500);

// Who answers the request for kPackage.
enum class Server {
  PackageHost,  // the package host, misbehaving as `fault` says
  AcceptsLate,  // a server whose backlog is full when the client connects (LateServer)
};

// How the server answers a request for kPackage, and what the client makes of it.
struct Answer {
  Server server = Server::PackageHost;
  QString fault = "none";
  int size = 300000;  // of the package, in bytes
  int readSize = kFetchReadSize;
  Outcome outcome = Outcome::WholeBody;
  // At most this many waits in all (-1: any number): a silent server must not
  // wake the client by the clock.
  int mostWaits = -1;
  // When set, OpenUrl returns within this time.
  std::optional<std::chrono::milliseconds> opensWithin{};
  // When set, the call that ends the fetch returns within this time.
  std::optional<std::chrono::milliseconds> endsWithin{};
};

// Reads like the fetch does: one buffer, used again by every read. The bytes behind
// the buffer's end are watched, so that a read that stores too much is caught.
Fetched Fetch(const QString& url, int readSize, WaitKind waitKind = WaitKind::Poll) {
  constexpr std::byte kGuard{0xA5};
  constexpr std::size_t kGuardBytes = 64;
  Fetched fetched;
  CurlHttpClient client(kTimeouts);
  CountingWait wait(waitKind);
  const auto session = client.Open(kAgent, wait);
  if (!session) {
    return fetched;
  }
  const auto opening = std::chrono::steady_clock::now();
  const auto handle = session->OpenUrl(url.toStdString());
  fetched.openTook = std::chrono::steady_clock::now() - opening;
  fetched.endTook = fetched.openTook;
  fetched.waits = wait.count;
  if (!handle) {
    return fetched;
  }
  fetched.opened = true;
  const auto size = static_cast<std::size_t>(readSize);
  std::vector<std::byte> buffer(size + kGuardBytes, kGuard);
  for (;;) {
    const auto reading = std::chrono::steady_clock::now();
    const ReadResult read = handle->Read(std::span(buffer).first(size));
    fetched.endTook = std::chrono::steady_clock::now() - reading;
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

// A server on loopback whose one-place backlog is taken by a connection of its own until
// it starts accepting, a moment after it was made: a client that connects meanwhile
// is still connecting when it first waits. It then answers one request with `body`.
class LateServer {
 public:
  static constexpr std::chrono::milliseconds kAcceptsAfter{200};

  explicit LateServer(const QByteArray& body)
      : listening_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
        stop_(::eventfd(0, EFD_CLOEXEC)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (::bind(listening_.Get(), generic, length) != 0 || ::listen(listening_.Get(), 0) != 0 ||
        ::getsockname(listening_.Get(), generic, &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    // Completes at once and fills the backlog: the client's connection waits behind it.
    filler_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(filler_.Get(), generic, length) != 0) {
      port_ = 0;
      return;
    }
    const QByteArray response =
        "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    thread_ = std::thread([this, response] { Serve(response); });
  }
  LateServer(const LateServer&) = delete;
  LateServer& operator=(const LateServer&) = delete;
  ~LateServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stop_.Get(), &one, sizeof one);
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  QString Url() const {
    return QStringLiteral("http://127.0.0.1:%1/downloads/%2").arg(port_).arg(kPackage);
  }
  bool IsReady() const { return port_ != 0; }

 private:
  // Waits up to `timeoutMs` for `fd` to be ready for `events`; false when it was not,
  // or when the server is told to stop.
  bool Await(int fd, short events, int timeoutMs) const {
    std::array<pollfd, 2> watched{pollfd{.fd = fd, .events = events, .revents = 0},
                                  pollfd{.fd = stop_.Get(), .events = POLLIN, .revents = 0}};
    return ::poll(watched.data(), watched.size(), timeoutMs) > 0 && watched[1].revents == 0 &&
           watched[0].revents != 0;
  }

  void Serve(const QByteArray& response) const {
    constexpr int kDeadlineMs = 5000;
    // The moment during which the backlog stays full.
    if (Await(stop_.Get(), POLLIN, static_cast<int>(kAcceptsAfter.count()))) {
      return;
    }
    const UniqueFd filler(::accept4(listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!Await(listening_.Get(), POLLIN, kDeadlineMs)) {
      return;
    }
    const UniqueFd client(::accept4(listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    QByteArray request;
    std::array<char, 4096> chunk{};
    while (!request.contains("\r\n\r\n") && Await(client.Get(), POLLIN, kDeadlineMs)) {
      const ssize_t got = ::recv(client.Get(), chunk.data(), chunk.size(), 0);
      if (got <= 0) {
        return;
      }
      request.append(chunk.data(), got);
    }
    for (qsizetype sent = 0; sent < response.size();) {
      const ssize_t put = ::send(client.Get(), response.constData() + sent,
                                 static_cast<std::size_t>(response.size() - sent), MSG_NOSIGNAL);
      if (put <= 0) {
        return;
      }
      sent += put;
    }
  }

  UniqueFd listening_;
  UniqueFd filler_;
  UniqueFd stop_;
  quint16 port_ = 0;
  std::thread thread_;
};

}  // namespace

Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(WaitKind)

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
  QTest::addColumn<WaitKind>("waitKind");
  QTest::addColumn<Answer>("answer");

  // Every row on each wait: the client may sleep in either.
  for (const WaitKind waitKind : {WaitKind::Poll, WaitKind::Desktop}) {
    const char* const waitName = waitKind == WaitKind::Poll ? "poll" : "desktop";
    const auto row = [waitKind, waitName](const char* name) -> QTestData& {
      return QTest::addRow("%s: %s", waitName, name) << waitKind;
    };
    row("whole body") << Answer{};
    row("large body") << Answer{.size = 16 << 20};
    row("body of exactly one read") << Answer{.size = kFetchReadSize};
    row("body shorter than one read") << Answer{.size = 100};
    row("reads smaller than what arrives at once") << Answer{.readSize = 1000};
    row("one-byte reads") << Answer{.size = 20000, .readSize = 1};
    row("redirect followed") << Answer{.fault = "redirect"};
    row("head delayed within the idle time-out") << Answer{.fault = "delay-headers:0.3"};
    row("head later than the idle time-out") << Answer{.fault = "delay-headers:5",
                                                       .outcome = Outcome::NoHandle,
                                                       .mostWaits = 6,
                                                       .endsWithin = kGivesUpAfterSilence};
    // 1.5 s in all, but never 0.1 s without a byte.
    row("slow trickle outlasts the idle time-out")
        << Answer{.fault = "trickle:40000", .size = 60000};
    row("empty body") << Answer{.fault = "empty", .outcome = Outcome::EmptyBody};
    row("204 no content") << Answer{.fault = "status:204", .outcome = Outcome::EmptyBody};
    row("404 not found") << Answer{.fault = "status:404", .outcome = Outcome::NoHandle};
    row("500 server error") << Answer{.fault = "status:500", .outcome = Outcome::NoHandle};
    row("redirect without a target") << Answer{.fault = "status:302", .outcome = Outcome::NoHandle};
    row("redirect to file://") << Answer{.fault = "redirect-file", .outcome = Outcome::NoHandle};
    row("redirect loop") << Answer{.fault = "redirect-loop", .outcome = Outcome::NoHandle};
    row("body shorter than Content-Length")
        << Answer{.fault = "short", .outcome = Outcome::FailsMidway};
    row("chunked body without its last chunk")
        << Answer{.fault = "chunked-short", .outcome = Outcome::FailsMidway};
    row("stall longer than the idle time-out") << Answer{.fault = "stall:20",
                                                         .outcome = Outcome::FailsMidway,
                                                         .mostWaits = 12,
                                                         .endsWithin = kGivesUpAfterSilence};
    // A connect that returns before it has completed, which loopback otherwise never
    // shows: only libcurl's request to watch for writability tells at once when it has.
    // The kernel lets the connection through with its SYN sent again a second after the
    // first; a client that missed the request would notice only at its connect time-out.
    row("connection still in progress when the first wait begins") << Answer{
        .server = Server::AcceptsLate, .size = 1000, .opensWithin = kTimeouts.connect / 2};
  }
}

void CurlHttpClientTest::deliversWhatTheServerAnswers() {
  QFETCH(WaitKind, waitKind);
  QFETCH(Answer, answer);
  const auto& [server, fault, size, readSize, outcome, mostWaits, opensWithin, endsWithin] = answer;
  const QByteArray served = PackageHostProcess::GeneratedContent(kPackage, size);
  Fetched fetched;
  if (server == Server::AcceptsLate) {
    const LateServer late(served);
    QVERIFY(late.IsReady());
    fetched = Fetch(late.Url(), readSize, waitKind);
  } else {
    PackageHostProcess host({"--port", "0", "--file",
                             QStringLiteral("%1=%2").arg(kPackage).arg(size), "--fault", fault});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    fetched = Fetch(host.Url(kPackage), readSize, waitKind);
  }

  QVERIFY(!fetched.wroteBeyondBuffer);
  QVERIFY(fetched.largestRead <= static_cast<std::size_t>(readSize));
  if (mostWaits >= 0) {
    QVERIFY2(fetched.waits <= mostWaits, qPrintable(QString::number(fetched.waits)));
  }
  if (opensWithin) {
    QVERIFY(fetched.openTook < *opensWithin);
  }
  if (endsWithin) {
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(fetched.endTook);
    QVERIFY2(took < *endsWithin, qPrintable(QString("ended after %1 ms").arg(took.count())));
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

// A Q(Gui)Application, for the program's wait.
QTEST_MAIN(CurlHttpClientTest)
#include "HttpClient_test.moc"
