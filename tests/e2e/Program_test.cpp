// The real program, run as a setup program runs it: from a folder of its own,
// under the window manager, against the package host on loopback. What its window
// does on the desktop; the server's faults are in ProgramFaults_test.
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include "e2e/FaultCases.h"
#include "e2e/ProgramRun.h"
#include "e2e/X11Client.h"
#include "support/ChildProcess.h"
#include "support/host/PackageHostProcess.h"

using namespace korvani;
using e2e::FaultCase;
using e2e::ProgramRun;
using support::Output;
using namespace std::chrono_literals;

namespace {

// The program's window, once the window manager knows it.
QString FindWindow() {
  return Output("xdotool", {"search", "--name", "^Setup - Korvani$"}).section('\n', 0, 0);
}

// Asks the window manager to close the program's window, as its close button does.
bool CloseWindow() {
  return QProcess::execute("wmctrl", {"-c", "Setup - Korvani"}) == 0;
}

// The program's window, made topmost, while the program still runs; 0 when it
// never showed.
e2e::XWindow AwaitTopmostWindow(const ProgramRun& run) {
  QString window;
  const QDeadlineTimer deadline(10000);
  while ((window = FindWindow()).isEmpty() && !run.Finished() && !deadline.hasExpired()) {
    QTest::qWait(20);
  }
  while (!window.isEmpty() && !run.Finished() && !deadline.hasExpired() &&
         !Output("xprop", {"-id", window, "_NET_WM_STATE"}).contains("_NET_WM_STATE_ABOVE")) {
    QTest::qWait(20);
  }
  return run.Finished() || deadline.hasExpired() ? 0 : window.toULong();
}

// The pixels of the banner (heading, subheading and logo) that differ between
// two shots of the window.
int BannerDifferences(const e2e::ScreenShot& before, const e2e::ScreenShot& after) {
  if (before.width < 498 || after.width < 498 || before.height < 55 || after.height < 55) {
    return -1;
  }
  int differences = 0;
  for (int y = 0; y < 55; ++y) {
    for (int x = 0; x < 498; ++x) {
      differences += before.At(x, y) != after.At(x, y) ? 1 : 0;
    }
  }
  return differences;
}

}  // namespace

class ProgramTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
      QSKIP("needs an X server with a window manager");
    }
    QVERIFY(!e2e::ProgramBytes().isEmpty());
  }

  // The package arrives byte for byte; the window stays on top while it is up
  // and goes two seconds after the result; nothing is printed.
  void fetchesThePackageAndCloses() {
    QTemporaryDir served;
    QByteArray body(qsizetype{883} * 1024, Qt::Uninitialized);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(body.data()), body.size() / 4);
    QFile package(served.filePath("RUD_UZ7_de.exe"));
    QVERIFY(package.open(QIODevice::WriteOnly));
    package.write(body);
    package.close();
    host::PackageHostProcess host({"--root", served.path()});
    QVERIFY2(host.isReady(), qPrintable(host.failure()));
    QDateTime finishedAt;

    ProgramRun run(host.hostAndPort(), {.arguments = {"xp", "de"}});
    connect(&run.process, &QProcess::finished, this,
            [&] { finishedAt = QDateTime::currentDateTimeUtc(); });
    QString window;
    QTRY_VERIFY_WITH_TIMEOUT(!(window = FindWindow()).isEmpty() || run.Finished(), 10000);
    QVERIFY2(!window.isEmpty(), "the window never showed");
    QTRY_VERIFY_WITH_TIMEOUT(
        Output("xprop", {"-id", window, "_NET_WM_STATE"}).contains("_NET_WM_STATE_ABOVE"), 5000);
    const QString end = run.EndFault(20000);
    QVERIFY2(end.isEmpty(), qPrintable(end));

    QVERIFY(FindWindow().isEmpty());
    QFile saved(run.folder.Path("RUD_UZ7_de.exe"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll() == body);
    // The file's time is taken when its bytes were written, just before the
    // result line: the window must stand two seconds after it. Both times are
    // wall-clock times, so the test's own busy moments can only lengthen it.
    const qint64 shownAfterResult = QFileInfo(saved).lastModified().msecsTo(finishedAt);
    QVERIFY2(shownAfterResult >= 2000 && shownAfterResult <= 3000,
             qPrintable(QString("%1 ms").arg(shownAfterResult)));
    QCOMPARE(host.requestLog().size(), 1);
  }

  // Closing the window during the pause ends the program at once, after the
  // one fetch.
  void closingDuringThePauseEndsTheProgram() {
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.isReady(), qPrintable(host.failure()));
    ProgramRun run(host.hostAndPort(), {});
    QTRY_VERIFY_WITH_TIMEOUT(run.Saved() || run.Finished(), 10000);
    QVERIFY(!run.Finished());
    const qint64 closedAt = run.clock.elapsed();
    CloseWindow();
    const QString end = run.EndFault(5000);
    QVERIFY2(end.isEmpty(), qPrintable(end));

    QVERIFY2(run.finishedAt - closedAt < 1000,
             qPrintable(QString("%1 ms after the close").arg(run.finishedAt - closedAt)));
    QCOMPARE(host.requestLog().size(), 1);
    QVERIFY(run.Saved());
  }

  // Desktops call a window that leaves the window manager's pings unanswered
  // for a few seconds hung. Pinged twice during a slow fetch, it answers each
  // within a second: while the body trickles in, and while the server keeps
  // the answer back. The pause is cut short: it is timed elsewhere.
  void answersPingsDuringTheFetch_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("slow body") << "trickle:153600";
    QTest::newRow("slow answer") << "delay-headers:4";
  }
  void answersPingsDuringTheFetch() {
    QFETCH(QString, fault);
    host::PackageHostProcess host({"--generate", "--fault", fault});
    QVERIFY2(host.isReady(), qPrintable(host.failure()));
    e2e::X11Client x11;
    QVERIFY(x11.IsOpen());
    ProgramRun run(host.hostAndPort(), {});
    const e2e::XWindow window = AwaitTopmostWindow(run);
    QVERIFY2(window != 0, "the window never showed");

    for (const qint64 moment : {1500, 3500}) {
      QTest::qWait(static_cast<int>(std::max<qint64>(0, moment - run.clock.elapsed())));
      const std::optional<std::chrono::milliseconds> answer = x11.Ping(window, 1s);
      QVERIFY2(answer, qPrintable(QString("no answer at %1 ms").arg(moment)));
      QVERIFY2(run.folder.Package() == e2e::RunFolder::OldPackage(), "the fetch was already over");
    }
    QVERIFY(CloseWindow());
    const QString end = run.EndFault(20000);
    QVERIFY2(end.isEmpty(), qPrintable(end));
    QVERIFY(run.Saved());
  }

  // Another program's window covers ours during the fetch and goes: the banner
  // shows again as it did before, while the fetch still runs.
  void repaintsWhatAnotherWindowUncovers() {
    host::PackageHostProcess host({"--generate", "--fault", "trickle:204800"});
    QVERIFY2(host.isReady(), qPrintable(host.failure()));
    e2e::X11Client x11;
    QVERIFY(x11.IsOpen());
    ProgramRun run(host.hostAndPort(), {});
    const e2e::XWindow window = AwaitTopmostWindow(run);
    QVERIFY2(window != 0, "the window never showed");
    const e2e::ScreenShot before = x11.Shot(window);
    QCOMPARE(before.At(2, 2), 0xFFFFFFU);

    constexpr std::uint32_t kMagenta = 0xFF00FF;
    const e2e::XWindow cover = x11.Cover(window, kMagenta);
    QCOMPARE(x11.Shot(window).At(2, 2), kMagenta);
    x11.Uncover(cover);
    QTRY_COMPARE_WITH_TIMEOUT(BannerDifferences(before, x11.Shot(window)), 0, 1000);
    QVERIFY2(run.folder.Package() == e2e::RunFolder::OldPackage(), "the fetch was already over");
    QVERIFY(CloseWindow());  // no need to wait out the pause
    const QString end = run.EndFault(20000);
    QVERIFY2(end.isEmpty(), qPrintable(end));
  }

  // A close request during the fetch waits for the pause: the window stays up
  // until the package is saved, then goes at once, with no second request.
  void closeDuringTheFetchWaitsForThePause() {
    host::PackageHostProcess host({"--generate", "--fault", "trickle:204800"});
    QVERIFY2(host.isReady(), qPrintable(host.failure()));
    e2e::X11Client x11;
    QVERIFY(x11.IsOpen());
    ProgramRun run(host.hostAndPort(), {});
    const e2e::XWindow window = AwaitTopmostWindow(run);
    QVERIFY2(window != 0, "the window never showed");
    QVERIFY(run.folder.Package() == e2e::RunFolder::OldPackage());
    QVERIFY(CloseWindow());

    const QDeadlineTimer deadline(20000);
    while (run.folder.Package() == e2e::RunFolder::OldPackage()) {
      QVERIFY2(x11.Shows(window), "the window went during the fetch");
      QVERIFY(!deadline.hasExpired());
      QTest::qWait(20);
    }
    const qint64 savedAt = run.clock.elapsed();
    const QString end = run.EndFault(5000);
    QVERIFY2(end.isEmpty(), qPrintable(end));
    QVERIFY2(run.finishedAt - savedAt < 1000,
             qPrintable(QString("%1 ms after the package").arg(run.finishedAt - savedAt)));
    QCOMPARE(host.requestLog().size(), 1);
    QVERIFY(run.Saved());
  }
};

QTEST_MAIN(ProgramTest)
#include "Program_test.moc"
