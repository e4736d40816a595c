#include "startup/CommandLine.h"

#include <QtTest>

#include "startup/Settings.h"

using korvani::startup::ArgumentText;
using korvani::startup::FixSettings;
using korvani::startup::gstrLanguage;
using korvani::startup::gstrOSFamily;
using korvani::startup::SplitCommandLine;

namespace {

// An argument text and the settings it leaves.
struct Shape {
  QString line;
  QString osFamily = "xp";
  QString language = "en";
};

}  // namespace

Q_DECLARE_METATYPE(Shape)

class CommandLineTest : public QObject {
  Q_OBJECT

 private slots:
  void settingsFollowTheShapeOfTheLine_data() {
    QTest::addColumn<Shape>("shape");
    QTest::newRow("empty") << Shape{.line = ""};
    QTest::newRow("blanks only") << Shape{.line = "   "};
    QTest::newRow("one word") << Shape{.line = "9x"};
    QTest::newRow("two words") << Shape{.line = "9x de", .osFamily = "9x", .language = "de"};
    QTest::newRow("two words, blanks around")
        << Shape{.line = "  9x de   ", .osFamily = "9x", .language = "de"};
    QTest::newRow("two blanks between") << Shape{.line = "9x  de"};
    QTest::newRow("three words") << Shape{.line = "9x de fr"};
    QTest::newRow("tab between") << Shape{.line = "9x\tde"};
    QTest::newRow("tab around stays in the field")
        << Shape{.line = "\t9x de", .osFamily = "\t9x", .language = "de"};
    QTest::newRow("upper case kept") << Shape{.line = "XP DE", .osFamily = "XP", .language = "DE"};
    QTest::newRow("quotes kept") << Shape{
        .line = "\"xp\" \"de\"", .osFamily = "\"xp\"", .language = "\"de\""};
    QTest::newRow("unknown codes kept")
        << Shape{.line = "os2 tlh", .osFamily = "os2", .language = "tlh"};
  }
  void settingsFollowTheShapeOfTheLine() {
    QFETCH(Shape, shape);
    // Left over from an earlier row: every shape must set both settings afresh.
    gstrOSFamily = "stale";
    gstrLanguage = "stale";
    FixSettings(shape.line.toStdString());
    QCOMPARE(QString::fromStdString(gstrOSFamily), shape.osFamily);
    QCOMPARE(QString::fromStdString(gstrLanguage), shape.language);
  }

  void splitKeepsEmptyFieldsBetweenBlanks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("nothing") << "" << QStringList{};
    QTest::newRow("one") << "a" << QStringList{"a"};
    QTest::newRow("two blanks") << "a  b" << QStringList{"a", "", "b"};
    QTest::newRow("trimmed first") << "  a b  " << QStringList{"a", "b"};
    QTest::newRow("only code 32 trimmed") << "\ta\n" << QStringList{"\ta\n"};
  }
  void splitKeepsEmptyFieldsBetweenBlanks() {
    QFETCH(QString, text);
    QFETCH(QStringList, fields);
    QStringList actual;
    for (const std::string& field : SplitCommandLine(text.toStdString())) {
      actual << QString::fromStdString(field);
    }
    QCOMPARE(actual, fields);
  }

  // One argument holding two blanks must not look like two arguments.
  void argumentsAreJoinedWithSingleBlanks_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QStringList{} << "";
    QTest::newRow("two") << QStringList{"xp", "de"} << "xp de";
    QTest::newRow("one with a blank") << QStringList{"xp de"} << "xp de";
    QTest::newRow("one with two blanks") << QStringList{"xp  de"} << "xp  de";
    QTest::newRow("empty first") << QStringList{"", "de"} << " de";
  }
  void argumentsAreJoinedWithSingleBlanks() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, text);
    std::vector<std::string> storage;
    for (const QString& argument : arguments) {
      storage.push_back(argument.toStdString());
    }
    std::vector<const char*> pointers;
    pointers.reserve(storage.size());
    for (const std::string& argument : storage) {
      pointers.push_back(argument.c_str());
    }
    QCOMPARE(QString::fromStdString(ArgumentText(pointers)), text);
  }
};

QTEST_APPLESS_MAIN(CommandLineTest)
#include "CommandLine_test.moc"
