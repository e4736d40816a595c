#include "transfer/SizeText.h"

#include <QCoreApplication>
#include <QProcess>
#include <QtTest>
#include <cmath>
#include <cstdio>
#include <limits>

using korvani::transfer::BarKilobytes;
using korvani::transfer::DownloadingText;
using korvani::transfer::FormatFileSize;
using korvani::transfer::FormatSizeNumber;
using korvani::transfer::SystemDecimalMark;

namespace {

// Set in the environment of a copy of this program that only reports what the user's
// locale gives: the system locale is read once per process, so each locale needs its own.
constexpr const char* kReportVariable = "KORVANI_SIZETEXT_REPORT_LOCALE";
constexpr int kChildDeadlineMs = 30000;

QString FileSize(double bytes, const char* mark) {
  return QString::fromStdString(FormatFileSize(bytes, mark));
}

QString SizeNumber(double value, const char* mark) {
  return QString::fromStdString(FormatSizeNumber(value, mark));
}

double Power1024(int exponent) {
  return std::ldexp(1.0, 10 * exponent);
}

// One locale variable set alone, and what the child reports under it.
struct LocaleCase {
  QString variable;
  QString value;
  QString report = ".|1.50 KB";  // the decimal mark, "|", then 1536 bytes as a size text
};

}  // namespace

Q_DECLARE_METATYPE(LocaleCase)

class SizeTextTest : public QObject {
  Q_OBJECT

 private slots:
  void formatsFileSize_data();
  void formatsFileSize();
  void usesGivenDecimalMark_data();
  void usesGivenDecimalMark();
  void countBelowOneGivesEmptyText_data();
  void countBelowOneGivesEmptyText();
  void roundsAtThresholds_data();
  void roundsAtThresholds();
  void hugeValuesPrintWholeNumber_data();
  void hugeValuesPrintWholeNumber();
  void followsLocaleOfEnvironment_data();
  void followsLocaleOfEnvironment();
  void downloadingText_data();
  void downloadingText();
  void barKilobytes_data();
  void barKilobytes();
};

void SizeTextTest::formatsFileSize_data() {
  QTest::addColumn<double>("bytes");
  QTest::addColumn<QString>("text");

  QTest::newRow("1") << 1.0 << "1.00 Bytes";
  QTest::newRow("9") << 9.0 << "9.00 Bytes";
  QTest::newRow("10") << 10.0 << "10.0 Bytes";
  QTest::newRow("99") << 99.0 << "99.0 Bytes";
  QTest::newRow("100") << 100.0 << "100 Bytes";
  QTest::newRow("1023") << 1023.0 << "1023 Bytes";
  QTest::newRow("1024") << 1024.0 << "1.00 KB";
  QTest::newRow("1152: 1.125, tie away from zero") << 1152.0 << "1.13 KB";
  QTest::newRow("1536") << 1536.0 << "1.50 KB";
  QTest::newRow("10239: 9.999 stays two decimals") << 10239.0 << "10.00 KB";
  QTest::newRow("10240") << 10240.0 << "10.0 KB";
  QTest::newRow("12544: 12.25, tie away from zero") << 12544.0 << "12.3 KB";
  QTest::newRow("102399: 99.999 stays one decimal") << 102399.0 << "100.0 KB";
  QTest::newRow("102400") << 102400.0 << "100 KB";
  QTest::newRow("102912: 100.5, tie to even") << 102912.0 << "100 KB";
  QTest::newRow("103936: 101.5, tie to even") << 103936.0 << "102 KB";
  QTest::newRow("904192") << 904192.0 << "883 KB";
  QTest::newRow("1000000") << 1000000.0 << "977 KB";
  QTest::newRow("1048575") << 1048575.0 << "1024 KB";
  QTest::newRow("1048576") << 1048576.0 << "1.00 MB";
  QTest::newRow("5000000") << 5000000.0 << "4.77 MB";
  QTest::newRow("1073741824") << 1073741824.0 << "1.00 GB";
  QTest::newRow("fractional count") << 1.5 << "1.50 Bytes";

  const char* units[] = {"Bytes", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
  for (int exponent = 0; exponent < 9; ++exponent) {
    QTest::addRow("1024^%d", exponent) << Power1024(exponent) << QString("1.00 ") + units[exponent];
  }
  QTest::newRow("1024^9 stays in YB") << Power1024(9) << "1024 YB";
  QTest::newRow("just below 1024^8") << std::nextafter(Power1024(8), 0.0) << "1024 ZB";
}

void SizeTextTest::formatsFileSize() {
  QFETCH(double, bytes);
  QFETCH(QString, text);

  QCOMPARE(FileSize(bytes, "."), text);
}

void SizeTextTest::usesGivenDecimalMark_data() {
  QTest::addColumn<double>("bytes");
  QTest::addColumn<QString>("text");

  QTest::newRow("two decimals") << 1536.0 << "1,50 KB";
  QTest::newRow("one decimal") << 12544.0 << "12,3 KB";
  QTest::newRow("whole number has no mark") << 1000000.0 << "977 KB";
  QTest::newRow("rounded up to threshold") << 10239.0 << "10,00 KB";
  QTest::newRow("megabytes") << 5000000.0 << "4,77 MB";
}

void SizeTextTest::usesGivenDecimalMark() {
  QFETCH(double, bytes);
  QFETCH(QString, text);

  QCOMPARE(FileSize(bytes, ","), text);
}

void SizeTextTest::countBelowOneGivesEmptyText_data() {
  QTest::addColumn<double>("bytes");

  QTest::newRow("zero") << 0.0;
  QTest::newRow("negative zero") << -0.0;
  QTest::newRow("half") << 0.5;
  QTest::newRow("just below one") << std::nextafter(1.0, 0.0);
  QTest::newRow("negative") << -1024.0;
  QTest::newRow("negative infinity") << -std::numeric_limits<double>::infinity();
  QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
  QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
}

void SizeTextTest::countBelowOneGivesEmptyText() {
  QFETCH(double, bytes);

  QCOMPARE(FileSize(bytes, "."), QString());
}

void SizeTextTest::roundsAtThresholds_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("text");

  QTest::newRow("below one keeps a leading zero") << 0.5 << "0.50";
  QTest::newRow("zero") << 0.0 << "0.00";
  QTest::newRow("9.994 rounds down") << 9.994 << "9.99";
  QTest::newRow("9.995 rounds up to 10.00") << 9.995 << "10.00";
  QTest::newRow("9.999") << 9.999 << "10.00";
  QTest::newRow("just below 10") << std::nextafter(10.0, 0.0) << "10.00";
  QTest::newRow("10") << 10.0 << "10.0";
  QTest::newRow("99.94 rounds down") << 99.94 << "99.9";
  QTest::newRow("99.95 rounds up to 100.0") << 99.95 << "100.0";
  QTest::newRow("99.999") << 99.999 << "100.0";
  QTest::newRow("just below 100") << std::nextafter(100.0, 0.0) << "100.0";
  QTest::newRow("100") << 100.0 << "100";
  QTest::newRow("100.5 ties to even") << 100.5 << "100";
  QTest::newRow("101.5 ties to even") << 101.5 << "102";
  QTest::newRow("100.51 rounds up") << 100.51 << "101";
  QTest::newRow("1023.999") << 1023.999 << "1024";
  // These read as ties but are stored a little below them.
  QTest::newRow("2.675 as written") << 2.675 << "2.68";
  QTest::newRow("1.005 as written") << 1.005 << "1.01";
  QTest::newRow("10.35 as written") << 10.35 << "10.4";
  QTest::newRow("one step below 1.005 is not a tie") << std::nextafter(1.005, 0.0) << "1.00";
  QTest::newRow("8.345 as written") << 8.345 << "8.35";
}

void SizeTextTest::roundsAtThresholds() {
  QFETCH(double, value);
  QFETCH(QString, text);

  QCOMPARE(SizeNumber(value, "."), text);
}

void SizeTextTest::hugeValuesPrintWholeNumber_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("text");

  QTest::newRow("32767.5 ties to even") << 32767.5 << "32768";
  QTest::newRow("65535.5") << 65535.5 << "65536";
  QTest::newRow("1e20") << 1e20 << "100000000000000000000";
  QTest::newRow("largest whole double below 2^53") << 9007199254740991.0 << "9007199254740991";
}

void SizeTextTest::hugeValuesPrintWholeNumber() {
  QFETCH(double, value);
  QFETCH(QString, text);

  QCOMPARE(SizeNumber(value, "."), text);
  QCOMPARE(FileSize(value * Power1024(8), "."), text + " YB");
}

void SizeTextTest::followsLocaleOfEnvironment_data() {
  QTest::addColumn<LocaleCase>("locale");

  QTest::newRow("LC_ALL German") << LocaleCase{
      .variable = "LC_ALL", .value = "de_DE.UTF-8", .report = ",|1,50 KB"};
  QTest::newRow("LC_NUMERIC German")
      << LocaleCase{.variable = "LC_NUMERIC", .value = "de_DE.UTF-8", .report = ",|1,50 KB"};
  QTest::newRow("LANG German") << LocaleCase{
      .variable = "LANG", .value = "de_DE.UTF-8", .report = ",|1,50 KB"};
  QTest::newRow("LC_ALL C") << LocaleCase{.variable = "LC_ALL", .value = "C"};
  QTest::newRow("LC_ALL English") << LocaleCase{.variable = "LC_ALL", .value = "en_US.UTF-8"};
}

// Qt reads these variables itself and carries its own locale data, so no system
// locale needs to be installed for this to hold.
void SizeTextTest::followsLocaleOfEnvironment() {
  QFETCH(LocaleCase, locale);

  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG", "LANGUAGE"}) {
    environment.remove(name);
  }
  environment.insert(locale.variable, locale.value);
  environment.insert(kReportVariable, "1");
  QProcess child;
  child.setProcessEnvironment(environment);
  child.start(QCoreApplication::applicationFilePath(), {});
  QVERIFY(child.waitForFinished(kChildDeadlineMs));

  QCOMPARE(child.exitCode(), 0);
  QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), locale.report);
}

void SizeTextTest::downloadingText_data() {
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

void SizeTextTest::downloadingText() {
  QFETCH(quint64, bytes);
  QFETCH(QString, expected);
  QCOMPARE(QString::fromStdString(DownloadingText(bytes)), expected);
}

void SizeTextTest::barKilobytes_data() {
  QTest::addColumn<quint64>("bytes");
  QTest::addColumn<float>("expected");

  QTest::newRow("nothing yet") << quint64{0} << 0.0F;
  QTest::newRow("half a kilobyte") << quint64{512} << 0.5F;
  QTest::newRow("not rounded") << quint64{1536} << 1.5F;
  QTest::newRow("one read") << quint64{8162} << 7.970703125F;
}

void SizeTextTest::barKilobytes() {
  QFETCH(quint64, bytes);
  QFETCH(float, expected);
  QCOMPARE(BarKilobytes(bytes), expected);
}

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsSet(kReportVariable)) {
    std::printf("%s|%s", SystemDecimalMark().c_str(), FormatFileSize(1536).c_str());
    return 0;
  }
  QCoreApplication application(argc, argv);
  SizeTextTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "SizeText_test.moc"
