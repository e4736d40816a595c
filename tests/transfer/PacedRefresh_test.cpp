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

struct Changes {
  QList<int> atUs{};        // when each change happens, since the start
  QList<bool> repainted{};  // which of them were repainted at once
  bool owedAtEnd = false;   // whether a repaint was left owed
  int owedDueAtUs = -1;     // when the owed repaint may be made (-1: none is owed)
};
}  // namespace

Q_DECLARE_METATYPE(Changes)

void PacedRefreshTest::changesAgainstTime_data() {
  QTest::addColumn<Changes>("changes");

  QTest::newRow("nothing changed") << Changes{};
  QTest::newRow("first change at once") << Changes{.atUs = {0}, .repainted = {true}};
  QTest::newRow("first change late still at once")
      << Changes{.atUs = {5'000'000}, .repainted = {true}};
  QTest::newRow("same instant waits") << Changes{
      .atUs = {0, 0}, .repainted = {true, false}, .owedAtEnd = true, .owedDueAtUs = kFrameUs};
  QTest::newRow("within a frame waits") << Changes{.atUs = {0, 1000, kFrameUs - 1},
                                                   .repainted = {true, false, false},
                                                   .owedAtEnd = true,
                                                   .owedDueAtUs = kFrameUs};
  QTest::newRow("one frame later repaints")
      << Changes{.atUs = {0, kFrameUs}, .repainted = {true, true}};
  QTest::newRow("frame counts from the last repaint, not the last change")
      << Changes{.atUs = {0, 10'000, 20'000, 30'000},
                 .repainted = {true, false, true, false},
                 .owedAtEnd = true,
                 .owedDueAtUs = 20'000 + kFrameUs};
  QTest::newRow("a repaint settles what was owed")
      << Changes{.atUs = {0, 1000, 40'000}, .repainted = {true, false, true}};
}

void PacedRefreshTest::changesAgainstTime() {
  QFETCH(Changes, changes);

  FakeClock clock;
  const auto start = clock.MonotonicNow();
  PacedRefresh pacing(clock);
  QList<bool> actual;
  for (const int atUs : changes.atUs) {
    clock.SetMonotonic(start + microseconds(atUs));
    actual.append(pacing.RepaintNow());
  }
  QCOMPARE(actual, changes.repainted);
  const auto due = pacing.UnpaintedDue();
  QCOMPARE(due.has_value(), changes.owedDueAtUs >= 0);
  if (due) {
    // Within the microsecond the frame's length is rounded to.
    QVERIFY(std::chrono::abs(*due - (start + microseconds(changes.owedDueAtUs))) <=
            microseconds(1));
  }
  QCOMPARE(pacing.TakeUnpainted(), changes.owedAtEnd);
  QVERIFY2(!pacing.UnpaintedDue(), "a repaint taken is no longer owed");
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
