#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "GeneratedContent.h"
#include "support/WindowRig.h"

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
constexpr std::size_t kEnglishXpBytes = std::size_t{793} * 1024;

// The package host's placeholder of the package: what the build may pin.
fakes::FakeHttpScript Serving(std::string_view package, std::size_t bytes) {
  const std::string content = packagehost::GeneratedContent(package, bytes);
  const auto served = std::as_bytes(std::span(content));
  fakes::FakeHttpScript script;
  script.reads = {fakes::FakeRead::Data({served.begin(), served.end()}), fakes::FakeRead::End()};
  return script;
}

// One run of the window against fakes, with the pause on a clock that moves a
// quarter second per reading, so it ends after a handful of passes.
struct Run : support::WindowRig {
  using WindowRig::WindowRig;
  // The main steps of the run, without the progress details of the fetch.
  QStringList Steps() const {
    return log.Without({"lblFile", "lblProgress", "pgbDownload", "http.read", "list", "begin",
                        "write", "abandon"});
  }
};

// A fake clock that tells, for every reading, whether the result line was
// already shown, and keeps the last reading.
class ResultWatchingClock : public fakes::FakeClock {
 public:
  const QLabel* lblProgress = nullptr;
  mutable std::optional<Monotonic> firstAfterResult;
  mutable Monotonic last{};

  Monotonic MonotonicNow() const override {
    last = FakeClock::MonotonicNow();
    const QString line = lblProgress != nullptr ? lblProgress->text() : QString();
    if (!firstAfterResult &&
        (line == "Download Failed" || line.startsWith("Download Complete: "))) {
      firstAfterResult = last;
    }
    return last;
  }
};

// Notes the clock's last reading when the window leaves the top.
class UnloadTimingStacking : public fakes::FakeWindowStacking {
 public:
  UnloadTimingStacking(fakes::EventLog& log, const ResultWatchingClock& clock)
      : FakeWindowStacking(log), clock_(clock) {}
  std::optional<fakes::FakeClock::Monotonic> clearedAt;

  void SetTopmost(WId window, bool topmost) override {
    FakeWindowStacking::SetTopmost(window, topmost);
    if (!topmost) {
      clearedAt = clock_.last;
    }
  }

 private:
  const ResultWatchingClock& clock_;
};

}  // namespace

class LoadSequenceTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qtTestHandler = qInstallMessageHandler(HideRaiseWarnings); }

  void successfulRunShowsCompleteAndUnloads() {
    Run run({.language = "de", .script = Serving("RUD_UZ7_de.exe", kGermanXpBytes)});
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
    Run run({.osFamily = "9x", .language = "fr", .script = script});
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
    Run run({.osFamily = "XP", .language = "de", .script = script});
    run.form.Load();

    QVERIFY(run.log.All().contains("http.url "));
    QCOMPARE(run.Bar().maximum(), 100000);
    QCOMPARE(run.Progress(), QString("Download Failed"));
  }

  void windowIsShownBeforeItIsMadeTopmost() {
    Run run({.script = Serving("RUD_UZ7_en.exe", kEnglishXpBytes)});
    run.form.Load();
    QCOMPARE(run.log.StartingWith("topmost"), (QStringList{"topmost on", "topmost off"}));
  }

  // Timed on the clock the pause reads: from the result line to the unload at
  // least the two seconds, and at most one clock step more (steps that do not
  // divide two seconds, so that a reading never falls on the end itself).
  void pauseLastsTwoSecondsToTheClockStep_data() {
    QTest::addColumn<int>("stepMs");
    QTest::newRow("fine steps") << 300;
    QTest::newRow("coarse steps") << 700;
    QTest::newRow("a step longer than the pause") << 3000;
  }
  void pauseLastsTwoSecondsToTheClockStep() {
    QFETCH(int, stepMs);
    ResultWatchingClock clock;
    clock.autoAdvance = std::chrono::milliseconds(stepMs);
    fakes::EventLog stackingLog;
    UnloadTimingStacking stacking(stackingLog, clock);
    Run run({.script = Serving("RUD_UZ7_en.exe", kEnglishXpBytes),
             .clock = &clock,
             .stacking = &stacking});
    clock.lblProgress = run.Find<QLabel>("lblProgress");
    run.form.Load();

    QVERIFY(clock.firstAfterResult && stacking.clearedAt);
    const auto pause = *stacking.clearedAt - *clock.firstAfterResult;
    QVERIFY2(pause >= 2s && pause < 2s + clock.autoAdvance,
             qPrintable(QString("%1 ms").arg(
                 std::chrono::duration_cast<std::chrono::milliseconds>(pause).count())));
  }

  // Closing the window during the pause unloads it once and ends the pause at
  // once: with a clock that never moves, only the close can end it.
  void closingDuringThePauseEndsIt() {
    struct ClosingSound : fakes::FakeSound {
      using FakeSound::FakeSound;
      QWidget* window = nullptr;
      void DefaultBeep() override {
        FakeSound::DefaultBeep();
        QTimer::singleShot(0, window, &QWidget::close);
      }
    };
    fakes::EventLog soundLog;
    ClosingSound sound(soundLog);
    Run run({.clockStep = 0ns, .sound = &sound});
    sound.window = &run.form;
    run.form.Load();

    QVERIFY(!run.form.IsLoaded());
    QVERIFY(!run.form.isVisible());
    QCOMPARE(run.log.StartingWith("topmost"), (QStringList{"topmost on", "topmost off"}));
    QCOMPARE(run.log.StartingWith("http.url").size(), 1);
  }
};

QTEST_MAIN(LoadSequenceTest)
#include "LoadSequence_test.moc"
