#include "catalogue/SelectPackage.h"

#include <QtTest>
#include <algorithm>
#include <string>

#include "support/ScopedEnvironment.h"

using korvani::catalogue::CataloguePackage;
using korvani::catalogue::CataloguePackages;
using korvani::catalogue::PackageChoice;
using korvani::catalogue::PackageScheme;
using korvani::catalogue::SelectPackage;
using korvani::support::ScopedEnvironment;

namespace {

const std::string kHost = "packages.test";

// The catalogue written out by hand, apart from the code's own table.
struct ListedLanguage {
  const char* language;
  int xpKilobytes;
  int win9xKilobytes;
};
constexpr ListedLanguage kListed[] = {{"de", 883, 778}, {"en", 793, 690}, {"es", 851, 746},
                                      {"fr", 848, 753}, {"it", 841, 748}, {"jp", 852, 756},
                                      {"nl", 804, 712}};

QString XpPath(const QString& language) {
  return "/downloads/RUD_UZ7_" + language + ".exe";
}
QString Win9xPath(const QString& language) {
  return "/downloads/VUD_" + language + "_win98.exe";
}

struct ExpectedChoice {
  QString family;
  QString language;
  QString path;  // of the URL, after the host
  float kilobytes = 0;
};

}  // namespace

Q_DECLARE_METATYPE(ExpectedChoice)

class SelectPackageTest : public QObject {
  Q_OBJECT

 private slots:
  void choosesPackage_data();
  void choosesPackage();
  void unlistedFamilyGivesNoPackage_data();
  void unlistedFamilyGivesNoPackage();
  void listsExactlyThePackagesItChooses();
  void hostFromEnvironmentReachesUrl();
};

void SelectPackageTest::choosesPackage_data() {
  QTest::addColumn<ExpectedChoice>("expected");

  for (const ListedLanguage& row : kListed) {
    const QString language = row.language;
    QTest::addRow("xp %s", row.language)
        << ExpectedChoice{.family = "xp",
                          .language = language,
                          .path = XpPath(language),
                          .kilobytes = static_cast<float>(row.xpKilobytes)};
    QTest::addRow("9x %s", row.language)
        << ExpectedChoice{.family = "9x",
                          .language = language,
                          .path = Win9xPath(language),
                          .kilobytes = static_cast<float>(row.win9xKilobytes)};
  }

  // Anything but a listed code, compared whole and case-sensitively, gets the "en" package.
  const char* unlisted[] = {"ja", "", "DE", "De", "de ", " de", "de-AT", "d", "english"};
  for (const char* language : unlisted) {
    QTest::addRow("xp falls back from '%s'", language) << ExpectedChoice{
        .family = "xp", .language = language, .path = XpPath("en"), .kilobytes = 793};
    QTest::addRow("9x falls back from '%s'", language) << ExpectedChoice{
        .family = "9x", .language = language, .path = Win9xPath("en"), .kilobytes = 690};
  }
}

void SelectPackageTest::choosesPackage() {
  QFETCH(ExpectedChoice, expected);

  const PackageChoice choice =
      SelectPackage(expected.family.toStdString(), expected.language.toStdString(), kHost);

  QCOMPARE(QString::fromStdString(choice.url),
           QString::fromStdString(std::string(PackageScheme()) + "://" + kHost) + expected.path);
  QVERIFY(choice.expectedKilobytes.has_value());
  QCOMPARE(*choice.expectedKilobytes, expected.kilobytes);
  // The pin is the chosen package's, the fallback's too, as the build's table has it.
  const QString fileName = expected.path.section('/', -1);
  const auto listed = std::find_if(
      CataloguePackages().begin(), CataloguePackages().end(),
      [&](const CataloguePackage& package) { return package.fileName == fileName.toStdString(); });
  QVERIFY(listed != CataloguePackages().end());
  QVERIFY(choice.sha256 == listed->sha256);
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

// The list the package host serves from: the same packages, of the same sizes.
void SelectPackageTest::listsExactlyThePackagesItChooses() {
  QStringList byHand;
  for (const ListedLanguage& row : kListed) {
    byHand << QString("%1 %2").arg(XpPath(row.language)).arg(row.xpKilobytes)
           << QString("%1 %2").arg(Win9xPath(row.language)).arg(row.win9xKilobytes);
  }
  QStringList listed;
  // Each listed package is also the one chosen for its own codes.
  for (const CataloguePackage& package : CataloguePackages()) {
    const QString path = "/downloads/" + QString::fromLatin1(package.fileName.data(),
                                                             qsizetype(package.fileName.size()));
    listed << QString("%1 %2").arg(path).arg(package.kilobytes);
    const PackageChoice choice =
        SelectPackage(std::string(package.family), std::string(package.language), kHost);
    QCOMPARE(QString::fromStdString(choice.url),
             QString::fromStdString(std::string(PackageScheme()) + "://" + kHost) + path);
  }
  byHand.sort();
  listed.sort();
  QCOMPARE(listed, byHand);
}

void SelectPackageTest::hostFromEnvironmentReachesUrl() {
  const PackageChoice choice = [] {
    const ScopedEnvironment host({"KORVANI_PACKAGE_HOST=127.0.0.1:8080"});
    return SelectPackage("9x", "fr");
  }();

  QCOMPARE(QString::fromStdString(choice.url),
           QString::fromStdString(std::string(PackageScheme()) +
                                  "://127.0.0.1:8080/downloads/VUD_fr_win98.exe"));
  QVERIFY(choice.expectedKilobytes.has_value());
  QCOMPARE(*choice.expectedKilobytes, 753.0F);
}

QTEST_APPLESS_MAIN(SelectPackageTest)
#include "SelectPackage_test.moc"
