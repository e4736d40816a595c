#include "startup/CommandLine.h"

#include <QtTest>

#include "startup/Settings.h"

using korvani::startup::ArgumentText;
using korvani::startup::FixSettings;
using korvani::startup::gstrLanguage;
using korvani::startup::gstrOSFamily;
using korvani::startup::SplitCommandLine;

class CommandLineTest : public QObject {
  Q_OBJECT

 private slots:
  void settingsFollowTheShapeOfTheLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("osFamily");
    QTest::addColumn<QString>("language");
    QTest::newRow("empty") << ""
                           << "xp"
                           << "en";
    QTest::newRow("blanks only") << "   "
                                 << "xp"
                                 << "en";
    QTest::newRow("one word") << "9x"
                              << "xp"
                              << "en";
    QTest::newRow("two words") << "9x de"
                               << "9x"
                               << "de";
    QTest::newRow("two words, blanks around") << "  9x de   "
                                              << "9x"
                                              << "de";
    QTest::newRow("two blanks between") << "9x  de"
                                        << "xp"
                                        << "en";
    QTest::newRow("three words") << "9x de fr"
                                 << "xp"
                                 << "en";
    QTest::newRow("tab between") << "9x\tde"
                                 << "xp"
                                 << "en";
    QTest::newRow("tab around stays in the field") << "\t9x de"
                                                   << "\t9x"
                                                   << "de";
    QTest::newRow("upper case kept") << "XP DE"
                                     << "XP"
                                     << "DE";
    QTest::newRow("quotes kept") << "\"xp\" \"de\""
                                 << "\"xp\""
                                 << "\"de\"";
    QTest::newRow("unknown codes kept") << "os2 tlh"
                                        << "os2"
                                        << "tlh";
  }
  void settingsFollowTheShapeOfTheLine() {
    QFETCH(QString, line);
    QFETCH(QString, osFamily);
    QFETCH(QString, language);
    // Left over from an earlier row: every shape must set both settings afresh.
    gstrOSFamily = "stale";
    gstrLanguage = "stale";
    FixSettings(line.toStdString());
    QCOMPARE(QString::fromStdString(gstrOSFamily), osFamily);
    QCOMPARE(QString::fromStdString(gstrLanguage), language);
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
