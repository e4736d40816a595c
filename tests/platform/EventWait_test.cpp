// The program's wait at its seam, on the X display as the program has it: what wakes
// it, what it serves while it sleeps, and what it holds back for later.
#include "platform/EventWait.h"

#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/Clock.h"
#include "platform/UniqueFd.h"
#include "support/X11Client.h"

using korvani::platform::DesktopEventWait;
using korvani::platform::EventWait;
using korvani::platform::UniqueFd;
using korvani::support::X11Client;
using namespace std::chrono_literals;

namespace {

const korvani::platform::SystemClock kClock;

// What a row arranges before it waits.
enum class Arrange {
  ReadyBefore,         // a pipe with bytes in it, watched for reading
  ReadyWhileAsleep,    // a descriptor that becomes readable after the wait began
  Writable,            // a pipe's write end, watched for writing
  NothingReady,        // an empty pipe, watched for reading
  ClosedAfterOneWait,  // a descriptor watched by an earlier wait, closed since
  PostedEvent,         // an event posted to the thread
  Click,               // a click on the window, from the X server
  CloseRequest,        // the window manager's request to close the window
};

struct WaitCase {
  Arrange arrange = Arrange::NothingReady;
  short woken = 0;  // what the wait reports ready on the watched descriptor
  std::chrono::milliseconds deadline = 5000ms;
  // Whether the waits last to the deadline; otherwise they end well before it.
  bool lastsToDeadline = false;
};

// The window the desktop's input goes to; counts what reaches it, and stays up.
class InputTarget final : public QWidget {
 public:
  int clicks = 0;
  int closeRequests = 0;
  int posted = 0;

 protected:
  void mousePressEvent(QMouseEvent* /*event*/) override { ++clicks; }
  void closeEvent(QCloseEvent* event) override {
    ++closeRequests;
    event->ignore();
  }
  void customEvent(QEvent* /*event*/) override { ++posted; }
};

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

Pipe MakePipe() {
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return {};
  }
  return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

// Readable `after` from now, with nothing else running: a timer's descriptor.
UniqueFd ReadableAfter(std::chrono::milliseconds after) {
  UniqueFd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
  const itimerspec expiry{.it_interval = {},
                          .it_value = {.tv_sec = 0, .tv_nsec = after.count() * 1'000'000}};
  ::timerfd_settime(timer.Get(), 0, &expiry, nullptr);
  return timer;
}

// Waits as a caller does: again until something watched is ready or `end` has passed.
void WaitAsACaller(EventWait& wait, std::vector<pollfd>& watched, EventWait::TimePoint end) {
  const auto ready = [&watched] {
    return std::any_of(watched.begin(), watched.end(),
                       [](const pollfd& entry) { return entry.revents != 0; });
  };
  do {
    wait.Wait(watched, end);
  } while (!ready() && wait.Now() < end);
}

}  // namespace

Q_DECLARE_METATYPE(WaitCase)

class DesktopEventWaitTest : public QObject {
  Q_OBJECT

 private slots:
  // Qt's warnings say what went wrong in the dispatcher (a notifier on a closed
  // descriptor, for one).
  void init() { QTest::failOnWarning(QRegularExpression(".*")); }

  void wakesServesAndHoldsBack_data();
  void wakesServesAndHoldsBack();
};

void DesktopEventWaitTest::wakesServesAndHoldsBack_data() {
  QTest::addColumn<WaitCase>("row");

  QTest::newRow("descriptor ready before the wait")
      << WaitCase{.arrange = Arrange::ReadyBefore, .woken = POLLIN};
  QTest::newRow("descriptor ready while it sleeps")
      << WaitCase{.arrange = Arrange::ReadyWhileAsleep, .woken = POLLIN};
  QTest::newRow("writable descriptor") << WaitCase{.arrange = Arrange::Writable, .woken = POLLOUT};
  QTest::newRow("deadline with nothing ready")
      << WaitCase{.arrange = Arrange::NothingReady, .deadline = 200ms, .lastsToDeadline = true};
  QTest::newRow("descriptor closed after one wait does not wake the next") << WaitCase{
      .arrange = Arrange::ClosedAfterOneWait, .deadline = 200ms, .lastsToDeadline = true};
  QTest::newRow("posted event served")
      << WaitCase{.arrange = Arrange::PostedEvent, .deadline = 200ms, .lastsToDeadline = true};
  QTest::newRow("click held back")
      << WaitCase{.arrange = Arrange::Click, .deadline = 300ms, .lastsToDeadline = true};
  QTest::newRow("close request held back")
      << WaitCase{.arrange = Arrange::CloseRequest, .deadline = 300ms, .lastsToDeadline = true};
}

void DesktopEventWaitTest::wakesServesAndHoldsBack() {
  QFETCH(WaitCase, row);
  InputTarget window;
  window.resize(200, 100);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  X11Client desktop;
  QVERIFY(desktop.IsOpen());
  DesktopEventWait wait(kClock);

  Pipe pipe = MakePipe();
  QVERIFY(pipe.read.IsOpen());
  UniqueFd timer;
  std::vector<pollfd> watched;
  switch (row.arrange) {
    case Arrange::ReadyBefore:
      QCOMPARE(::write(pipe.write.Get(), "x", 1), 1);
      watched.push_back({.fd = pipe.read.Get(), .events = POLLIN, .revents = 0});
      break;
    case Arrange::ReadyWhileAsleep:
      timer = ReadableAfter(50ms);
      watched.push_back({.fd = timer.Get(), .events = POLLIN, .revents = 0});
      break;
    case Arrange::Writable:
      watched.push_back({.fd = pipe.write.Get(), .events = POLLOUT, .revents = 0});
      break;
    case Arrange::NothingReady:
      watched.push_back({.fd = pipe.read.Get(), .events = POLLIN, .revents = 0});
      break;
    case Arrange::ClosedAfterOneWait: {
      // Ready only once the first wait sleeps, so that it is watched through Qt.
      UniqueFd earlier = ReadableAfter(20ms);
      std::vector<pollfd> first{{.fd = earlier.Get(), .events = POLLIN, .revents = 0}};
      WaitAsACaller(wait, first, wait.Now() + 5s);
      QCOMPARE(first[0].revents, short{POLLIN});
      break;  // `earlier` closes here, still readable
    }
    case Arrange::PostedEvent:
      // Qt owns a posted event and deletes it once delivered.
      // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
      QCoreApplication::postEvent(&window, new QEvent(QEvent::User));
      break;
    case Arrange::Click:
      desktop.Click(window.winId());
      break;
    case Arrange::CloseRequest:
      desktop.Close(window.winId());
      break;
  }

  // A wait that forgot its deadline ends here instead of never.
  QTimer guard;
  guard.setSingleShot(true);
  guard.start(row.deadline + 2s);
  const EventWait::TimePoint started = wait.Now();
  WaitAsACaller(wait, watched, started + row.deadline);
  const auto took = wait.Now() - started;

  if (!watched.empty()) {
    QCOMPARE(watched[0].revents, row.woken);
  }
  if (row.lastsToDeadline) {
    QVERIFY2(took >= row.deadline && took < row.deadline + 1s,
             qPrintable(QString::number(std::chrono::duration<double>(took).count())));
  } else {
    QVERIFY(took < row.deadline / 2);
  }
  QCOMPARE(window.posted, row.arrange == Arrange::PostedEvent ? 1 : 0);
  QCOMPARE(window.clicks, 0);
  QCOMPARE(window.closeRequests, 0);
  // Held back, not lost: the next unrestricted pass that the desktop wakes (here with
  // a ping) delivers them.
  desktop.SendPing(window.winId());
  if (row.arrange == Arrange::Click) {
    QTRY_COMPARE(window.clicks, 1);
  }
  if (row.arrange == Arrange::CloseRequest) {
    QTRY_COMPARE(window.closeRequests, 1);
  }
}

QTEST_MAIN(DesktopEventWaitTest)
#include "EventWait_test.moc"
