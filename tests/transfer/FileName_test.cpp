#include "transfer/FileName.h"

#include <QTest>

using korvani::platform::LocalDateTime;
using korvani::transfer::FileNameForUrl;
using korvani::transfer::NamesFileInFolder;

Q_DECLARE_METATYPE(LocalDateTime)

class FileNameTest : public QObject {
  Q_OBJECT

 private slots:
  void nameForUrl_data();
  void nameForUrl();
  void generatedNameUsesTwoDigitsPerField_data();
  void generatedNameUsesTwoDigitsPerField();
  void namesFileInFolder_data();
  void namesFileInFolder();
};

namespace {
const LocalDateTime kAfternoon{
    .year = 2026, .month = 12, .day = 6, .hour = 14, .minute = 5, .second = 9};
}  // namespace

void FileNameTest::nameForUrl_data() {
  QTest::addColumn<QString>("url");
  QTest::addColumn<QString>("expected");

  QTest::newRow("package") << "http://host/downloads/RUD_UZ7_de.exe"
                           << "RUD_UZ7_de.exe";
  QTest::newRow("query stays") << "http://host/get?id=5"
                               << "get?id=5";
  QTest::newRow("slash inside the query wins") << "http://host/get?path=a/b.exe"
                                               << "b.exe";
  QTest::newRow("ends with slash") << "http://host/downloads/"
                                   << "";
  QTest::newRow("scheme and host only") << "http://host"
                                        << "host";
  QTest::newRow("no slash") << "RUD_UZ7_de.exe"
                            << "Download140509120626.tmp";
  QTest::newRow("empty url") << ""
                             << "Download140509120626.tmp";
  QTest::newRow("backslash is no separator") << "C:\\dir\\file.exe"
                                             << "Download140509120626.tmp";
  QTest::newRow("dot segment") << "http://host/downloads/."
                               << ".";
}

void FileNameTest::nameForUrl() {
  QFETCH(QString, url);
  QFETCH(QString, expected);
  QCOMPARE(QString::fromStdString(FileNameForUrl(url.toStdString(), kAfternoon)), expected);
}

void FileNameTest::generatedNameUsesTwoDigitsPerField_data() {
  QTest::addColumn<LocalDateTime>("now");
  QTest::addColumn<QString>("expected");

  QTest::newRow("midnight new year")
      << LocalDateTime{.year = 2000, .month = 1, .day = 1, .hour = 0, .minute = 0, .second = 0}
      << "Download000000010100.tmp";
  QTest::newRow("last second of a year")
      << LocalDateTime{.year = 2099, .month = 12, .day = 31, .hour = 23, .minute = 59, .second = 59}
      << "Download235959123199.tmp";
  QTest::newRow("year 2007 keeps its zero")
      << LocalDateTime{.year = 2007, .month = 3, .day = 4, .hour = 5, .minute = 6, .second = 7}
      << "Download050607030407.tmp";
}

void FileNameTest::generatedNameUsesTwoDigitsPerField() {
  QFETCH(LocalDateTime, now);
  QFETCH(QString, expected);
  QCOMPARE(QString::fromStdString(FileNameForUrl("no-slash", now)), expected);
}

void FileNameTest::namesFileInFolder_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("expected");

  QTest::newRow("package") << "RUD_UZ7_de.exe" << true;
  QTest::newRow("empty") << "" << false;
  QTest::newRow("the folder itself") << "." << false;
  QTest::newRow("the parent folder") << ".." << false;
  QTest::newRow("three dots") << "..." << true;
  QTest::newRow("hidden file") << ".profile" << true;
}

void FileNameTest::namesFileInFolder() {
  QFETCH(QString, name);
  QFETCH(bool, expected);
  QCOMPARE(NamesFileInFolder(name.toStdString()), expected);
}

QTEST_APPLESS_MAIN(FileNameTest)
#include "FileName_test.moc"
