#include "transfer/PacedRefresh.h"

#include <QList>
#include <QTest>
#include <chrono>

#include "support/fakes/FakeClock.h"

using korvani::fakes::FakeClock;
using korvani::transfer::PacedRefresh;
using std::chrono::microseconds;

class PacedRefreshTest : public QObject {
  Q_OBJECT

 private slots:
  void changesAgainstTime_data();
  void changesAgainstTime();
  void steadyStreamIsHeldToTheFrameRate();
};

namespace {
// Microseconds within which a change is not repainted again.
constexpr int kFrameUs = 16667;
}  // namespace

void PacedRefreshTest::changesAgainstTime_data() {
  // Each change happens at its time (microseconds since the start); `repainted`
  // says which were repainted at once, `owedAtEnd` whether one was left owed.
  QTest::addColumn<QList<int>>("changesAtUs");
  QTest::addColumn<QList<bool>>("repainted");
  QTest::addColumn<bool>("owedAtEnd");

  QTest::newRow("nothing changed") << QList<int>{} << QList<bool>{} << false;
  QTest::newRow("first change at once") << QList<int>{0} << QList<bool>{true} << false;
  QTest::newRow("first change late still at once")
      << QList<int>{5'000'000} << QList<bool>{true} << false;
  QTest::newRow("same instant waits") << QList<int>{0, 0} << QList<bool>{true, false} << true;
  QTest::newRow("within a frame waits")
      << QList<int>{0, 1000, kFrameUs - 1} << QList<bool>{true, false, false} << true;
  QTest::newRow("one frame later repaints")
      << QList<int>{0, kFrameUs} << QList<bool>{true, true} << false;
  QTest::newRow("frame counts from the last repaint, not the last change")
      << QList<int>{0, 10'000, 20'000, 30'000} << QList<bool>{true, false, true, false} << true;
  QTest::newRow("a repaint settles what was owed")
      << QList<int>{0, 1000, 40'000} << QList<bool>{true, false, true} << false;
}

void PacedRefreshTest::changesAgainstTime() {
  QFETCH(QList<int>, changesAtUs);
  QFETCH(QList<bool>, repainted);
  QFETCH(bool, owedAtEnd);

  FakeClock clock;
  const auto start = clock.MonotonicNow();
  PacedRefresh pacing(clock);
  QList<bool> actual;
  for (const int atUs : changesAtUs) {
    clock.SetMonotonic(start + microseconds(atUs));
    actual.append(pacing.RepaintNow());
  }
  QCOMPARE(actual, repainted);
  QCOMPARE(pacing.TakeUnpainted(), owedAtEnd);
  QVERIFY2(!pacing.TakeUnpainted(), "an owed repaint is handed out once");
}

void PacedRefreshTest::steadyStreamIsHeldToTheFrameRate() {
  // One change per 0.1 ms for one second: about what a fast loopback transfer does.
  FakeClock clock;
  clock.autoAdvance = microseconds(100);
  PacedRefresh pacing(clock);
  int repaints = 0;
  for (int change = 0; change < 10'000; ++change) {
    repaints += pacing.RepaintNow() ? 1 : 0;
  }
  QVERIFY2(repaints >= 59 && repaints <= 61, qPrintable(QString::number(repaints)));
  QVERIFY(pacing.TakeUnpainted());
}

QTEST_APPLESS_MAIN(PacedRefreshTest)
#include "PacedRefresh_test.moc"
