// The window's whole run in this process, on the real HTTP client and files,
// against the package host on loopback: here the result line can be read. On
// Qt's offscreen platform, beside the tests that need the X display; the window's
// stacking and its sound are fakes, tested on their own.
#include <QtTest>

#include "e2e/CaseEnd.h"
#include "e2e/FaultCases.h"
#include "e2e/HttpsHost.h"
#include "e2e/RunFolder.h"
#include "e2e/ServerAddress.h"
#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "support/WindowRig.h"
#include "support/host/PackageHostProcess.h"

using namespace korvani;
using e2e::FaultCase;

namespace {

// The system clock with its monotonic time running faster, so that the window's pause
// after the result takes a fraction of its time. It is the time base of the wait, so the
// HTTP client's time-outs count on it as well, and are given in its time; libcurl's own
// clock, which times the connection out, is not affected. A wait sleeps a span of this
// clock as long in real time, so a time-out that runs out (the stall) takes its span in
// this clock's time. The pause's length is checked with a fake clock and by the process
// test.
class FastClock final : public platform::Clock {
 public:
  static constexpr int kSpeedUp = 8;

  platform::LocalDateTime LocalNow() const override { return system_.LocalNow(); }
  std::chrono::steady_clock::time_point MonotonicNow() const override {
    return start_ + (system_.MonotonicNow() - start_) * kSpeedUp;
  }

 private:
  platform::SystemClock system_;
  std::chrono::steady_clock::time_point start_ = system_.MonotonicNow();
};

}  // namespace

class InProcessRunTest : public QObject {
  Q_OBJECT

 private slots:
  // A warning from Qt would reach a user's terminal; the offscreen platform's own,
  // that it cannot raise a window, would not.
  void init() {
    QTest::failOnWarning(QRegularExpression("^(?!.*does not support raise\\(\\)).*$"));
  }

  void resultLineAndFolderFollowTheServer_data() { e2e::AddFaultCases(e2e::Runner::InProcess); }
  void resultLineAndFolderFollowTheServer() {
    QFETCH(FaultCase, fault);
    const e2e::HttpsHost https(fault.https);
    QVERIFY2(https.IsReady(), qPrintable(https.Failure()));
    host::PackageHostProcess host(QStringList{"--generate"} + fault.hostArguments +
                                  https.RedirectArguments());
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    const QString hostName = e2e::ServerAddress(fault, host);
    const e2e::RunFolder folder(e2e::kProgramName, "a program", fault);

    platform::CurlHttpClient http(
        platform::CurlTimeouts{.connect = e2e::kInProcessConnectTimeout * FastClock::kSpeedUp,
                               .idle = e2e::kInProcessIdleTimeout * FastClock::kSpeedUp});
    platform::LocalFileSystem files(folder.path().toStdString());
    const FastClock clock;
    platform::DesktopEventWait wait(clock);
    support::WindowRig rig(
        {.environment = QStringList{"KORVANI_PACKAGE_HOST=" + hostName} + fault.environment,
         .http = &http,
         .wait = &wait,
         .files = &files,
         .clock = &clock});
    rig.form.Load();

    const bool saved = fault.outcome == FaultCase::Outcome::Saved;
    QCOMPARE(rig.Progress(), saved ? e2e::kCompleteLine : e2e::kFailedLine);
    QCOMPARE(rig.log.StartingWith("defaultBeep").size(), saved ? 0 : 1);
    QVERIFY(!rig.form.IsLoaded());
    e2e::VerifyCaseEnd(fault, folder, host, https);
  }
};

QTEST_MAIN(InProcessRunTest)
#include "InProcessRun_test.moc"
