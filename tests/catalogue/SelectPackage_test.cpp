#include "catalogue/SelectPackage.h"

#include <QtTest>
#include <string>

using korvani::catalogue::PackageChoice;
using korvani::catalogue::SelectPackage;

namespace {

const std::string kHost = "packages.test";

}  // namespace

class SelectPackageTest : public QObject {
  Q_OBJECT

 private slots:
  void choosesPackage_data();
  void choosesPackage();
  void unlistedFamilyGivesNoPackage_data();
  void unlistedFamilyGivesNoPackage();
  void hostFromEnvironmentReachesUrl();
};

void SelectPackageTest::choosesPackage_data() {
  QTest::addColumn<QString>("family");
  QTest::addColumn<QString>("language");
  QTest::addColumn<QString>("path");
  QTest::addColumn<float>("kilobytes");

  struct Row {
    const char* language;
    float xpKilobytes;
    float win9xKilobytes;
  };
  const Row listed[] = {{"de", 883, 778}, {"en", 793, 690}, {"es", 851, 746}, {"fr", 848, 753},
                        {"it", 841, 748}, {"jp", 852, 756}, {"nl", 804, 712}};
  for (const Row& row : listed) {
    const QString language = row.language;
    QTest::addRow("xp %s", row.language)
        << "xp" << language << "/downloads/RUD_UZ7_" + language + ".exe" << row.xpKilobytes;
    QTest::addRow("9x %s", row.language)
        << "9x" << language << "/downloads/VUD_" + language + "_win98.exe" << row.win9xKilobytes;
  }

  // Anything but a listed code, compared whole and case-sensitively, gets the "en" package.
  const char* unlisted[] = {"ja", "", "DE", "De", "de ", " de", "de-AT", "d", "english"};
  for (const char* language : unlisted) {
    QTest::addRow("xp falls back from '%s'", language)
        << "xp" << QString(language) << "/downloads/RUD_UZ7_en.exe" << 793.0F;
    QTest::addRow("9x falls back from '%s'", language)
        << "9x" << QString(language) << "/downloads/VUD_en_win98.exe" << 690.0F;
  }
}

void SelectPackageTest::choosesPackage() {
  QFETCH(QString, family);
  QFETCH(QString, language);
  QFETCH(QString, path);
  QFETCH(float, kilobytes);

  const PackageChoice choice = SelectPackage(family.toStdString(), language.toStdString(), kHost);

  QCOMPARE(QString::fromStdString(choice.url), QString::fromStdString("http://" + kHost) + path);
  QVERIFY(choice.expectedKilobytes.has_value());
  QCOMPARE(*choice.expectedKilobytes, kilobytes);
}

void SelectPackageTest::unlistedFamilyGivesNoPackage_data() {
  QTest::addColumn<QString>("family");
  QTest::addColumn<QString>("language");

  QTest::newRow("XP") << "XP"
                      << "de";
  QTest::newRow("Xp") << "Xp"
                      << "de";
  QTest::newRow("9X") << "9X"
                      << "de";
  QTest::newRow("empty") << ""
                         << "de";
  QTest::newRow("trailing blank") << "xp "
                                  << "de";
  QTest::newRow("other family") << "nt"
                                << "en";
  QTest::newRow("language code as family") << "de"
                                           << "xp";
  QTest::newRow("both empty") << ""
                              << "";
}

void SelectPackageTest::unlistedFamilyGivesNoPackage() {
  QFETCH(QString, family);
  QFETCH(QString, language);

  const PackageChoice choice = SelectPackage(family.toStdString(), language.toStdString(), kHost);

  QCOMPARE(QString::fromStdString(choice.url), QString());
  QVERIFY(!choice.expectedKilobytes.has_value());
}

void SelectPackageTest::hostFromEnvironmentReachesUrl() {
  const QByteArray saved = qgetenv("KORVANI_PACKAGE_HOST");
  const bool wasSet = qEnvironmentVariableIsSet("KORVANI_PACKAGE_HOST");
  qputenv("KORVANI_PACKAGE_HOST", "127.0.0.1:8080");

  const PackageChoice choice = SelectPackage("9x", "fr");

  if (wasSet) {
    qputenv("KORVANI_PACKAGE_HOST", saved);
  } else {
    qunsetenv("KORVANI_PACKAGE_HOST");
  }
  QCOMPARE(QString::fromStdString(choice.url),
           QString("http://127.0.0.1:8080/downloads/VUD_fr_win98.exe"));
  QVERIFY(choice.expectedKilobytes.has_value());
  QCOMPARE(*choice.expectedKilobytes, 753.0F);
}

QTEST_APPLESS_MAIN(SelectPackageTest)
#include "SelectPackage_test.moc"
