#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

#include "startup/Settings.h"
#include "support/fakes/FakeClock.h"
#include "support/fakes/FakeFileSystem.h"
#include "support/fakes/FakeHttpClient.h"
#include "support/fakes/FakeSound.h"
#include "window/FakeWindowStacking.h"
#include "window/frmDownload.h"

using namespace korvani;
using namespace std::chrono_literals;

namespace {

// The offscreen platform cannot raise windows and says so on every pass of the pause.
QtMessageHandler qtTestHandler = nullptr;
void HideRaiseWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (!text.contains("does not support raise()")) {
    qtTestHandler(type, context, text);
  }
}

constexpr std::size_t kGermanXpBytes = std::size_t{883} * 1024;

fakes::FakeHttpScript Serving(std::size_t bytes) {
  fakes::FakeHttpScript script;
  script.reads = {fakes::FakeRead::Data(fakes::PatternBytes(bytes)), fakes::FakeRead::End()};
  script.announcedLength = bytes;
  return script;
}

// One run of the window against fakes, with the pause on a clock that moves a
// quarter second per reading, so it ends after a handful of passes.
struct Run {
  fakes::EventLog log;
  fakes::FakeHttpClient http;
  fakes::FakeSound sound{log};
  fakes::FakeFileSystem files{log};
  fakes::FakeClock clock;
  fakes::FakeWindowStacking stacking{log};
  window::frmDownload form{window::WindowServices{{http, sound, files, clock}, stacking}};

  Run(const std::string& osFamily, const std::string& language, fakes::FakeHttpScript script)
      : http(log, std::move(script)) {
    startup::gstrOSFamily = osFamily;
    startup::gstrLanguage = language;
    clock.autoAdvance = 250ms;
  }

  QString Progress() const { return form.findChild<QLabel*>("lblProgress")->text(); }
  const QProgressBar& Bar() const { return *form.findChild<QProgressBar*>("pgbDownload"); }
  // The main steps of the run, without the progress details of the fetch.
  QStringList Steps() const {
    return log.Without({"lblFile", "lblProgress", "pgbDownload", "http.read", "list", "begin",
                        "write", "abandon"});
  }
};

}  // namespace

class LoadSequenceTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qtTestHandler = qInstallMessageHandler(HideRaiseWarnings); }
  void init() { qputenv("KORVANI_PACKAGE_HOST", "packages.test"); }

  void successfulRunShowsCompleteAndUnloads() {
    Run run("xp", "de", Serving(kGermanXpBytes));
    run.form.Load();

    QCOMPARE(run.Steps(),
             (QStringList{"topmost on", "http.open VB Program",
                          "http.url http://packages.test/downloads/RUD_UZ7_de.exe", "beep 1500 100",
                          "beep 1800 200",
                          QString("save /opt/korvani/RUD_UZ7_de.exe %1 bytes").arg(kGermanXpBytes),
                          "http.closeUrl", "http.close", "topmost off"}));
    QCOMPARE(run.Progress(), QString("Download Complete: 883 KB"));
    QCOMPARE(run.Bar().maximum(), 883000);
    QCOMPARE(run.Bar().value(), 883000);
    QVERIFY(!run.form.IsLoaded());
    QVERIFY(!run.form.isVisible());
  }

  void failedFetchBeepsThenSaysFailed() {
    fakes::FakeHttpScript script;
    script.openUrlFails = true;
    Run run("9x", "fr", script);
    run.form.Load();

    const QStringList steps = run.Steps();
    QCOMPARE(steps.last(), QString("topmost off"));
    QCOMPARE(steps.count("defaultBeep"), 1);
    QVERIFY(steps.indexOf("defaultBeep") > steps.indexOf("http.close"));
    QCOMPARE(run.Progress(), QString("Download Failed"));
    QCOMPARE(run.Bar().maximum(), 753000);
    QVERIFY(!run.form.IsLoaded());
  }

  // An unlisted family still runs the whole sequence, with an empty URL and the
  // bar's range as laid out.
  void unlistedFamilyRunsWithEmptyUrl() {
    fakes::FakeHttpScript script;
    script.openUrlFails = true;
    Run run("XP", "de", script);
    run.form.Load();

    QVERIFY(run.log.All().contains("http.url "));
    QCOMPARE(run.Bar().maximum(), 100000);
    QCOMPARE(run.Progress(), QString("Download Failed"));
  }

  void windowIsShownBeforeItIsMadeTopmost() {
    Run run("xp", "en", Serving(1000));
    run.form.Load();
    QCOMPARE(run.log.StartingWith("topmost"), (QStringList{"topmost on", "topmost off"}));
  }

  // Closing the window during the pause unloads it once and ends the pause at
  // once: with a clock that never moves, only the close can end it.
  void closingDuringThePauseEndsIt() {
    Run run("xp", "en", {});
    run.clock.autoAdvance = 0ns;
    struct ClosingSound : fakes::FakeSound {
      using FakeSound::FakeSound;
      QWidget* window = nullptr;
      void DefaultBeep() override {
        FakeSound::DefaultBeep();
        QTimer::singleShot(0, window, &QWidget::close);
      }
    } sound(run.log);
    window::frmDownload form(
        window::WindowServices{{run.http, sound, run.files, run.clock}, run.stacking});
    sound.window = &form;
    form.Load();

    QVERIFY(!form.IsLoaded());
    QVERIFY(!form.isVisible());
    QCOMPARE(run.log.StartingWith("topmost"), (QStringList{"topmost on", "topmost off"}));
    QCOMPARE(run.log.StartingWith("http.url").size(), 1);
  }
};

QTEST_MAIN(LoadSequenceTest)
#include "LoadSequence_test.moc"
