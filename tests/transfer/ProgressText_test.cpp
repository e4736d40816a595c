#include "transfer/ProgressText.h"

#include <QTest>
#include <cstdint>

using korvani::transfer::BarKilobytes;
using korvani::transfer::DownloadingText;

class ProgressTextTest : public QObject {
  Q_OBJECT

 private slots:
  void downloadingText_data();
  void downloadingText();
  void barKilobytes_data();
  void barKilobytes();
};

void ProgressTextTest::downloadingText_data() {
  QTest::addColumn<quint64>("bytes");
  QTest::addColumn<QString>("expected");

  QTest::newRow("nothing yet") << quint64{0} << "Downloading ... 0 KB";
  QTest::newRow("just under half") << quint64{511} << "Downloading ... 0 KB";
  QTest::newRow("half rounds up") << quint64{512} << "Downloading ... 1 KB";
  QTest::newRow("one and a half rounds up") << quint64{1536} << "Downloading ... 2 KB";
  QTest::newRow("one read") << quint64{8162} << "Downloading ... 8 KB";
  QTest::newRow("no grouping") << quint64{1000000} << "Downloading ... 977 KB";
  QTest::newRow("64 MiB") << quint64{64} * 1024 * 1024 << "Downloading ... 65536 KB";
  QTest::newRow("beyond double precision")
      << (quint64{1} << 62) + 512 << "Downloading ... 4503599627370497 KB";
}

void ProgressTextTest::downloadingText() {
  QFETCH(quint64, bytes);
  QFETCH(QString, expected);
  QCOMPARE(QString::fromStdString(DownloadingText(bytes)), expected);
}

void ProgressTextTest::barKilobytes_data() {
  QTest::addColumn<quint64>("bytes");
  QTest::addColumn<float>("expected");

  QTest::newRow("nothing yet") << quint64{0} << 0.0F;
  QTest::newRow("half a kilobyte") << quint64{512} << 0.5F;
  QTest::newRow("not rounded") << quint64{1536} << 1.5F;
  QTest::newRow("one read") << quint64{8162} << 7.970703125F;
}

void ProgressTextTest::barKilobytes() {
  QFETCH(quint64, bytes);
  QFETCH(float, expected);
  QCOMPARE(BarKilobytes(bytes), expected);
}

QTEST_APPLESS_MAIN(ProgressTextTest)
#include "ProgressText_test.moc"
