#include "platform/Clock.h"

#include <QDateTime>
#include <QtTest>

using korvani::platform::LocalDateTime;
using korvani::platform::SystemClock;

namespace {

QDateTime AsQDateTime(const LocalDateTime& time) {
  return QDateTime(QDate(time.year, time.month, time.day),
                   QTime(time.hour, time.minute, time.second), Qt::LocalTime);
}

}  // namespace

class SystemClockTest : public QObject {
  Q_OBJECT

 private slots:
  void localNowIsTodaysLocalTime();
};

// Catches the classic slips of struct tm (years since 1900, months from 0) and a clock
// read in UTC instead of the local zone (the test runs in a zone that is never a whole
// hour off UTC).
void SystemClockTest::localNowIsTodaysLocalTime() {
  const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
  const QDateTime now = AsQDateTime(SystemClock().LocalNow());
  const QDateTime after = QDateTime::currentDateTime();

  QVERIFY2(now.isValid(), "not a valid date and time");
  QVERIFY2(before <= now && now <= after, qPrintable(now.toString(Qt::ISODate)));
}

QTEST_GUILESS_MAIN(SystemClockTest)
#include "Clock_test.moc"
