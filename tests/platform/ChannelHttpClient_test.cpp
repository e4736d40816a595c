// The window's side of the fetcher's channel: against a scripted fetcher that sends the
// rows' bytes, every reply ends in the body or in a failure, never a crash or a hang; and
// against the fetcher's own side, which serves a fake HTTP client, the body arrives whole.
#include "platform/ChannelHttpClient.h"

#include <sys/socket.h>

#include <QElapsedTimer>
#include <QtTest>
#include <array>
#include <cstring>
#include <thread>

#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/Fetcher.h"
#include "platform/FetcherChannel.h"
#include "support/fakes/EventLog.h"
#include "support/fakes/FakeHttpClient.h"

using korvani::platform::ReadResult;
using korvani::platform::UniqueFd;
using Kind = korvani::platform::channel::Kind;

namespace {

constexpr std::chrono::milliseconds kSilence{300};
// Far beyond the silence limit: a reply still going then has hung.
constexpr qint64 kDeadlineMs = 5000;

QByteArray Frame(Kind kind, const QByteArray& payload) {
  const auto header = korvani::platform::channel::Header(kind, payload.size());
  return QByteArray(reinterpret_cast<const char*>(header.data()), header.size()) + payload;
}
QByteArray Header(std::uint8_t kind, std::uint32_t length) {
  const auto header = korvani::platform::channel::Header(static_cast<Kind>(kind), length);
  return QByteArray(reinterpret_cast<const char*>(header.data()), header.size());
}
const QByteArray kOpened = Frame(Kind::Head, QByteArray(1, '\1'));
const QByteArray kEnd = Frame(Kind::End, {});

struct Script {
  QByteArray reply;           // what the fetcher sends on the reply's socket
  bool falls_silent = false;  // then keeps it open, saying nothing, instead of closing it
};

struct Outcome {
  bool opened = false;
  QByteArray body;
  ReadResult::Status last = ReadResult::Status::Failed;
};

// The reply's socket that came with the request on `control`.
UniqueFd ReceiveReplySocket(int control) {
  std::array<char, 4096> bytes{};
  iovec piece{.iov_base = bytes.data(), .iov_len = bytes.size()};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> attached{};
  msghdr message{};
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  message.msg_control = attached.data();
  message.msg_controllen = attached.size();
  if (::recvmsg(control, &message, MSG_CMSG_CLOEXEC) <= 0 || CMSG_FIRSTHDR(&message) == nullptr) {
    return {};
  }
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof fd);
  return UniqueFd(fd);
}

// Fetches one URL through `client` and reads it to its end.
Outcome FetchThrough(korvani::platform::HttpClient& client) {
  korvani::platform::SystemClock clock;
  korvani::platform::PollEventWait wait(clock);
  Outcome outcome;
  const auto session = client.Open("VB Program", wait);
  const auto opened = session ? session->OpenUrl("http://127.0.0.1/p.exe") : nullptr;
  outcome.opened = opened != nullptr;
  std::array<std::byte, 8162> buffer{};
  while (opened) {
    const ReadResult read = opened->Read(buffer);
    outcome.last = read.status;
    if (read.status != ReadResult::Status::Data) {
      break;
    }
    outcome.body.append(reinterpret_cast<const char*>(buffer.data()),
                        static_cast<qsizetype>(read.count));
  }
  return outcome;
}

struct Sockets {
  UniqueFd window;
  UniqueFd fetcher;
  Sockets() {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0) {
      window = UniqueFd(ends[0]);
      fetcher = UniqueFd(ends[1]);
    }
  }
};

}  // namespace

Q_DECLARE_METATYPE(Script)

class ChannelHttpClientTest : public QObject {
  Q_OBJECT

 private slots:
  void scriptedFetcher_data() {
    QTest::addColumn<Script>("script");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ended");  // the body ended cleanly, not in a failure
    const auto row = [](const char* name, const Script& script, bool opened, const char* body,
                        bool ended) {
      QTest::newRow(name) << script << opened << QByteArray(body) << ended;
    };
    const QByteArray abc = Frame(Kind::Data, "abc");

    row("a body in two frames", {kOpened + abc + Frame(Kind::Data, "defg") + kEnd}, true, "abcdefg",
        true);
    row("an empty body", {kOpened + kEnd}, true, "", true);
    row("not opened", {Frame(Kind::Head, QByteArray(1, '\0'))}, false, "", false);
    row("the transfer broke", {kOpened + abc + Frame(Kind::Failed, {})}, true, "abc", false);
    row("a head neither 0 nor 1", {Frame(Kind::Head, QByteArray(1, '\2'))}, false, "", false);
    row("a length beyond the buffer",
        {kOpened + Header(3, korvani::platform::channel::kMaxPayload + 1) + "abc"}, true, "",
        false);
    row("a truncated frame", {kOpened + Header(3, 100) + "abc"}, true, "", false);
    row("an unknown kind of frame", {kOpened + Header(9, 0)}, true, "", false);
    row("a request from the fetcher", {kOpened + Frame(Kind::Request, "x")}, true, "", false);
    row("an empty data frame", {kOpened + Header(3, 0)}, true, "", false);
    row("a head after the body", {kOpened + abc + kOpened}, true, "abc", false);
    row("more bytes than the end announced", {kOpened + abc + Frame(Kind::End, "x")}, true, "abc",
        false);
    row("bytes after the reply's end", {kOpened + abc + kEnd + "x"}, true, "abc", false);
    row("the fetcher dies before its head", {""}, false, "", false);
    row("the fetcher dies mid-body", {kOpened + abc}, true, "abc", false);
    row("the fetcher falls silent before its head", {"", true}, false, "", false);
    row("the fetcher falls silent mid-body", {kOpened + abc, true}, true, "abc", false);
  }
  void scriptedFetcher() {
    QFETCH(Script, script);
    QFETCH(bool, opened);
    QFETCH(QByteArray, body);
    QFETCH(bool, ended);
    Sockets control;
    QVERIFY(control.window.IsOpen());
    std::thread fetcher([&script, socket = std::move(control.fetcher)] {
      const UniqueFd reply = ReceiveReplySocket(socket.Get());
      [[maybe_unused]] const ssize_t sent =
          ::send(reply.Get(), script.reply.constData(), script.reply.size(), MSG_NOSIGNAL);
      // Silent until the window's side gives the reply up and closes its end.
      std::array<char, 16> ignored{};
      while (script.falls_silent && ::recv(reply.Get(), ignored.data(), ignored.size(), 0) > 0) {
      }
    });
    QElapsedTimer timer;
    timer.start();
    Outcome outcome;
    {
      korvani::platform::ChannelHttpClient client(std::move(control.window), kSilence);
      outcome = FetchThrough(client);
    }
    fetcher.join();
    QVERIFY2(timer.elapsed() < kDeadlineMs, "the window's side hung");
    QCOMPARE(outcome.opened, opened);
    QCOMPARE(outcome.body, body);
    if (opened) {
      QCOMPARE(outcome.last, ended ? ReadResult::Status::End : ReadResult::Status::Failed);
    }
  }

  // The fetcher's own side, serving a fake client: what the client reads arrives whole.
  void throughTheFetcher_data() {
    QTest::addColumn<bool>("openUrlFails");
    QTest::addColumn<bool>("breaks");
    QTest::newRow("a body of many frames") << false << false;
    QTest::newRow("the URL does not open") << true << false;
    QTest::newRow("the transfer breaks") << false << true;
  }
  void throughTheFetcher() {
    QFETCH(bool, openUrlFails);
    QFETCH(bool, breaks);
    const std::vector<std::byte> bytes = korvani::fakes::PatternBytes(300000);
    korvani::fakes::EventLog log;
    korvani::fakes::FakeHttpClient http(log, {.openUrlFails = openUrlFails,
                                              .reads = {korvani::fakes::FakeRead::Data(bytes),
                                                        breaks ? korvani::fakes::FakeRead::Failed()
                                                               : korvani::fakes::FakeRead::End()}});
    Sockets control;
    QVERIFY(control.window.IsOpen());
    std::thread fetcher([&http, socket = std::move(control.fetcher)] {
      korvani::platform::SystemClock clock;
      korvani::platform::ServeFetches(socket.Get(), http, clock);
    });
    Outcome outcome;
    {
      korvani::platform::ChannelHttpClient client(std::move(control.window), kSilence);
      outcome = FetchThrough(client);
    }
    fetcher.join();  // returns once the window's side has closed the control socket
    QCOMPARE(outcome.opened, !openUrlFails);
    if (!openUrlFails) {
      QCOMPARE(outcome.body, QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<qsizetype>(bytes.size())));
      QCOMPARE(outcome.last, breaks ? ReadResult::Status::Failed : ReadResult::Status::End);
    }
  }
};

QTEST_GUILESS_MAIN(ChannelHttpClientTest)
#include "ChannelHttpClient_test.moc"
