// The window's whole run in this process, on the real HTTP client, files and
// window stacking, against the package host on loopback: here the result line
// can be read.
#include <QLabel>
#include <QtTest>

#include "e2e/FaultCases.h"
#include "e2e/HttpsHost.h"
#include "e2e/RunFolder.h"
#include "e2e/ServerAddress.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/LocalFileSystem.h"
#include "platform/WindowStacking.h"
#include "startup/Settings.h"
#include "support/fakes/FakeSound.h"
#include "support/host/PackageHostProcess.h"
#include "window/frmDownload.h"

using namespace korvani;
using e2e::FaultCase;

namespace {

// The system clock with its monotonic time running faster, so that the window's pause
// after the result takes a fraction of its time. The fetch's time-outs run on libcurl's
// own clock and are not affected; the pause's length is checked with a fake clock and
// by the process test.
class FastClock final : public platform::Clock {
 public:
  platform::LocalDateTime LocalNow() const override { return system_.LocalNow(); }
  std::chrono::steady_clock::time_point MonotonicNow() const override {
    return start_ + (system_.MonotonicNow() - start_) * kSpeedUp;
  }

 private:
  static constexpr int kSpeedUp = 8;
  platform::SystemClock system_;
  std::chrono::steady_clock::time_point start_ = system_.MonotonicNow();
};

}  // namespace

class InProcessRunTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != "xcb") {
      QSKIP("needs an X server");
    }
    startup::gstrOSFamily = "xp";
    startup::gstrLanguage = "en";
  }

  void resultLineAndFolderFollowTheServer_data() { e2e::AddFaultCases(e2e::Runner::InProcess); }
  void resultLineAndFolderFollowTheServer() {
    QFETCH(FaultCase, fault);
    const e2e::HttpsHost https(fault.https);
    QVERIFY2(https.isReady(), qPrintable(https.failure()));
    host::PackageHostProcess host(QStringList{"--generate"} + fault.hostArguments +
                                  https.redirectArguments());
    QVERIFY2(host.isReady(), qPrintable(host.failure()));
    const QString hostName = e2e::ServerAddress(fault, host);
    qputenv("KORVANI_PACKAGE_HOST", hostName.toUtf8());
    QList<QByteArray> setVariables;
    for (const QString& variable : fault.environment) {
      setVariables << variable.section('=', 0, 0).toUtf8();
      qputenv(setVariables.last(), variable.section('=', 1).toUtf8());
    }
    const e2e::RunFolder folder("korvani-download", "a program", fault);

    fakes::EventLog log;
    fakes::FakeSound sound(log);
    platform::CurlHttpClient http(platform::CurlTimeouts{.connect = e2e::kInProcessConnectTimeout,
                                                         .idle = e2e::kInProcessIdleTimeout});
    platform::LocalFileSystem files(folder.path().toStdString());
    const FastClock clock;
    platform::X11WindowStacking stacking;
    window::frmDownload form(window::WindowServices{{http, sound, files, clock}, stacking});
    form.Load();
    for (const QByteArray& variable : setVariables) {
      qunsetenv(variable);
    }

    const bool saved = fault.outcome == FaultCase::Outcome::Saved;
    QCOMPARE(form.findChild<QLabel*>("lblProgress")->text(),
             saved ? e2e::kCompleteLine : e2e::kFailedLine);
    QCOMPARE(log.StartingWith("defaultBeep").size(), saved ? 0 : 1);
    QVERIFY(!form.IsLoaded());
    QCOMPARE(folder.Entries(), (QStringList{e2e::kPackage, "korvani-download"}));
    if (!fault.destinationIsFolder) {
      QCOMPARE(folder.Package(), saved ? host::PackageHostProcess::placeholderPackage(e2e::kPackage)
                                       : e2e::RunFolder::OldPackage());
    }
    if (fault.requests >= 0) {
      QCOMPARE(host.requestLog().filter(" /downloads/").size(), fault.requests);
    }
    if (fault.https != FaultCase::Https::None) {
      QCOMPARE(https.requests(), saved ? 1 : 0);
    }
  }
};

QTEST_MAIN(InProcessRunTest)
#include "InProcessRun_test.moc"
