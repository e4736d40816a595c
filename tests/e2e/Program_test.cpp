// The real program, run as a setup program runs it: from a folder of its own,
// under a window manager, against the package host on loopback. What its window
// does on the desktop; the server's faults are in ProgramFaults_test. The desktop is
// the test's own (Xvfb and openbox), so it takes no turns on the suite's display.
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>
#include <optional>

#include "e2e/FaultCases.h"
#include "e2e/PrivateDesktop.h"
#include "e2e/ProgramRun.h"
#include "support/X11Client.h"
#include "support/host/PackageHostProcess.h"

using namespace korvani;
using e2e::FaultCase;
using e2e::ProgramRun;
using namespace std::chrono_literals;

namespace {

const std::string kTitle = "Setup - Korvani";

// The program's window, once the window manager has made it topmost, while the
// program still runs; nothing when that did not happen in time.
std::optional<support::XWindow> AwaitTopmostWindow(support::X11Client& x11, const ProgramRun& run) {
  const auto window = x11.AwaitWindow(kTitle, 10s, static_cast<pid_t>(run.process.processId()));
  if (!window ||
      !x11.Await([&] { return x11.HasAtom(*window, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE"); },
                 5s)) {
    return std::nullopt;
  }
  return window;
}

// The pixels of the banner (heading, subheading and logo) that differ between
// two shots of the window.
int BannerDifferences(const support::ScreenShot& before, const support::ScreenShot& after) {
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

  std::optional<e2e::PrivateDesktop> desktop_;
  std::optional<support::X11Client> x11_;

 private slots:
  // The desktop's display is the one the program finds in $DISPLAY; this process itself
  // stays on Qt's offscreen platform.
  void initTestCase() {
    QVERIFY(!e2e::ProgramBytes().isEmpty());
    if (const QString refusal = desktop_.emplace().refusal(); !refusal.isEmpty()) {
      QSKIP(qPrintable(refusal));
    }
    desktop_->BecomeTheDisplay();
    QVERIFY(x11_.emplace().IsOpen());
  }
  // The client goes before its server: Xlib would end this process with the connection.
  void cleanupTestCase() {
    x11_.reset();
    desktop_.reset();
  }

  // The package arrives byte for byte; the window stays on top while it is up
  // and goes two seconds after the result; nothing is printed.
  void fetchesThePackageAndCloses() {
    const QByteArray body = host::PackageHostProcess::PlaceholderPackage("RUD_UZ7_de.exe");
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    QDateTime finishedAt;

    ProgramRun run(host.HostAndPort(), {.arguments = {"xp", "de"}});
    connect(&run.process, &QProcess::finished, this,
            [&] { finishedAt = QDateTime::currentDateTimeUtc(); });
    const auto window = AwaitTopmostWindow(*x11_, run);
    QVERIFY2(window, "the window never showed on top");
    const QString end = run.EndFault(20000);
    QVERIFY2(end.isEmpty(), qPrintable(end));

    QVERIFY(x11_->Await([&] { return x11_->Gone(*window); }, 1s));
    QFile saved(run.folder.Path("RUD_UZ7_de.exe"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll() == body);
    // The file's time is taken when its bytes were written, just before the
    // result line: the window must stand two seconds after it. Both times are
    // wall-clock times, so the test's own busy moments can only lengthen it.
    const qint64 shownAfterResult = QFileInfo(saved).lastModified().msecsTo(finishedAt);
    QVERIFY2(shownAfterResult >= 2000 && shownAfterResult <= 3000,
             qPrintable(QString("%1 ms").arg(shownAfterResult)));
    QCOMPARE(host.RequestLog().size(), 1);
  }

  // Closing the window during the pause ends the program at once, after the
  // one fetch.
  void closingDuringThePauseEndsTheProgram() {
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    ProgramRun run(host.HostAndPort(), {});
    const auto window = x11_->AwaitWindow(kTitle, 10s);
    QVERIFY2(window, "the window never showed");
    QTRY_VERIFY_WITH_TIMEOUT(run.Saved() || run.Finished(), 10000);
    QVERIFY(!run.Finished());
    const qint64 closedAt = run.clock.elapsed();
    x11_->Close(*window);
    const QString end = run.EndFault(5000);
    QVERIFY2(end.isEmpty(), qPrintable(end));

    QVERIFY2(run.finishedAt - closedAt < 1000,
             qPrintable(QString("%1 ms after the close").arg(run.finishedAt - closedAt)));
    QCOMPARE(host.RequestLog().size(), 1);
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
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    ProgramRun run(host.HostAndPort(), {});
    const auto window = AwaitTopmostWindow(*x11_, run);
    QVERIFY2(window, "the window never showed on top");

    // The moments are part of the case: early in the fetch, and well into it.
    for (const qint64 moment : {1500, 3500}) {
      QTest::qWait(static_cast<int>(std::max<qint64>(0, moment - run.clock.elapsed())));
      const std::optional<std::chrono::milliseconds> answer = x11_->Ping(*window, 1s);
      QVERIFY2(answer, qPrintable(QString("no answer at %1 ms").arg(moment)));
      QVERIFY2(run.folder.Package() == e2e::RunFolder::OldPackage(), "the fetch was already over");
    }
    x11_->Close(*window);
    const QString end = run.EndFault(20000);
    QVERIFY2(end.isEmpty(), qPrintable(end));
    QVERIFY(run.Saved());
  }

  // Another program's window covers ours during the fetch and goes: the banner
  // shows again as it did before, while the fetch still runs.
  void repaintsWhatAnotherWindowUncovers() {
    host::PackageHostProcess host({"--generate", "--fault", "trickle:204800"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    ProgramRun run(host.HostAndPort(), {});
    const auto window = AwaitTopmostWindow(*x11_, run);
    QVERIFY2(window, "the window never showed on top");
    const support::ScreenShot before = x11_->Shot(*window);
    QCOMPARE(before.At(2, 2), 0xFFFFFFU);

    constexpr std::uint32_t kMagenta = 0xFF00FF;
    const support::XWindow cover = x11_->Cover(*window, kMagenta);
    QCOMPARE(x11_->Shot(*window).At(2, 2), kMagenta);
    x11_->Destroy(cover);
    QTRY_COMPARE_WITH_TIMEOUT(BannerDifferences(before, x11_->Shot(*window)), 0, 1000);
    QVERIFY2(run.folder.Package() == e2e::RunFolder::OldPackage(), "the fetch was already over");
    x11_->Close(*window);  // no need to wait out the pause
    const QString end = run.EndFault(20000);
    QVERIFY2(end.isEmpty(), qPrintable(end));
  }

  // A close request during the fetch waits for the pause: the window stays up
  // until the package is saved, then goes at once, with no second request.
  void closeDuringTheFetchWaitsForThePause() {
    host::PackageHostProcess host({"--generate", "--fault", "trickle:204800"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    ProgramRun run(host.HostAndPort(), {});
    const auto window = AwaitTopmostWindow(*x11_, run);
    QVERIFY2(window, "the window never showed on top");
    QVERIFY(run.folder.Package() == e2e::RunFolder::OldPackage());
    x11_->Close(*window);

    QVERIFY2(x11_->Await([&] { return x11_->Gone(*window); }, 20s), "the window never went");
    const QDateTime goneAt = QDateTime::currentDateTimeUtc();
    QVERIFY2(run.Saved(), "the window went during the fetch");
    // The file's time is taken when its bytes were written; both are wall-clock times.
    const qint64 goneAfterSave =
        QFileInfo(run.folder.Path(e2e::kPackage)).lastModified().msecsTo(goneAt);
    QVERIFY2(goneAfterSave < 1000,
             qPrintable(QString("%1 ms after the package").arg(goneAfterSave)));
    const QString end = run.EndFault(5000);
    QVERIFY2(end.isEmpty(), qPrintable(end));
    QCOMPARE(host.RequestLog().size(), 1);
  }
};

QTEST_MAIN(ProgramTest)
#include "Program_test.moc"
