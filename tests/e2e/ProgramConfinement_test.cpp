// The program confined by the kernel, from the inside: a probe loaded into it
// (EscapeProbe.cpp) tries, at its first TCP connect, to create a file outside its
// folder, run /bin/true and connect to a port that is not the package host's. Confined,
// all three are refused, and the run is as before: the package saved, the tones played
// on the desktop's sound server, nothing printed. The build with confinement switched
// off shows that the probe would have got through.
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "e2e/HeardTones.h"
#include "e2e/ProgramRun.h"
#include "e2e/SoundServer.h"
#include "platform/Confinement.h"
#include "support/host/PackageHostProcess.h"

using namespace korvani;
using e2e::ProgramRun;

namespace {

// What the probe reports: "create 13\nrun 13\nconnect 13\n", read as {name: errno}.
QMap<QString, int> ReadReport(const QString& path) {
  QFile file(path);
  QMap<QString, int> outcomes;
  if (!file.open(QIODevice::ReadOnly)) {
    return outcomes;
  }
  for (const QByteArray& line : file.readAll().split('\n')) {
    const QList<QByteArray> words = line.split(' ');
    if (words.size() == 2) {
      outcomes.insert(QString::fromLatin1(words[0]), words[1].toInt());
    }
  }
  return outcomes;
}

const QString kReport = "escape-report";

}  // namespace

class ProgramConfinementTest : public QObject {
  Q_OBJECT

 private slots:
  void probeIsRefusedAndThePackageSaved_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("confined");
    QTest::newRow("the program") << QStringLiteral(KORVANI_PROGRAM) << true;
    QTest::newRow("a build with confinement off")
        << QStringLiteral(KORVANI_UNCONFINED_PROGRAM) << false;
  }
  void probeIsRefusedAndThePackageSaved() {
    QFETCH(QString, program);
    QFETCH(bool, confined);
    if (confined && !KORVANI_CONFINE) {
      QSKIP("built with -DKORVANI_CONFINE=OFF");
    }
    if (const int abi = platform::LandlockAbi(); confined && abi < 4) {
      QSKIP(qPrintable(QString("the kernel offers Landlock ABI %1; refusing a TCP connect "
                               "needs ABI 4")
                           .arg(abi)));
    }
    e2e::SoundServer sound;
    if (!sound.refusal().isEmpty()) {
      QSKIP(qPrintable(sound.refusal()));
    }
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    QTcpServer elsewhere;
    QVERIFY(elsewhere.listen(QHostAddress::LocalHost));
    QTemporaryDir outside;
    QVERIFY(sound.StartListening());

    QStringList environment = e2e::kNoDisplay + sound.ClientEnvironment();
    environment << "LD_PRELOAD=" KORVANI_ESCAPE_PROBE
                << "KORVANI_PROBE_OUTSIDE=" + outside.filePath("planted")
                << QString("KORVANI_PROBE_PORT=%1").arg(elsewhere.serverPort());
#if defined(__SANITIZE_ADDRESS__)
    // The probe comes before the sanitizer's runtime in the list of libraries.
    environment << "ASAN_OPTIONS=" + qEnvironmentVariable("ASAN_OPTIONS") +
                       ":verify_asan_link_order=0";
#endif
    ProgramRun run(host.HostAndPort(), {.environment = environment, .program = program});
    const QString fault = run.EndFault();
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    const QMap<QString, int> outcomes = ReadReport(run.folder.Path(kReport));
    const int refused = confined ? EACCES : 0;
    QCOMPARE(outcomes,
             (QMap<QString, int>{{"create", refused}, {"run", refused}, {"connect", refused}}));
    QCOMPARE(QFile::exists(outside.filePath("planted")), !confined);
    QVERIFY(run.Saved());
    QCOMPARE(run.folder.Entries(), (QStringList{e2e::kPackage, kReport, e2e::kProgramName}));
    // Both tones, in order and whole, although the sink took seconds to start.
    const std::vector<e2e::HeardTone> tones = e2e::HeardTones(sound.StopListening(), {1500, 1800});
    const auto near = [](int lengthMs, int expectedMs) {
      return std::abs(lengthMs - expectedMs) <= 30;
    };
    QVERIFY2(tones.size() == 2 && tones[0].frequencyHz == 1500 && near(tones[0].lengthMs, 100) &&
                 tones[1].frequencyHz == 1800 && near(tones[1].lengthMs, 200),
             qPrintable("heard " + e2e::Describe(tones)));
  }
};

QTEST_GUILESS_MAIN(ProgramConfinementTest)
#include "ProgramConfinement_test.moc"
