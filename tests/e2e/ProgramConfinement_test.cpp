// The program confined by the kernel, from the inside: a probe loaded into it
// (EscapeProbe.cpp) tries, at the fetcher's first TCP connect, to read a private file in
// HOME, create a file in the program's folder, connect to a Unix socket, run /bin/true
// directly and through the ELF interpreter, and connect to a port that is not the package
// host's; and, when the window's process gives the package its name, to connect over TCP
// from there. Confined, all are refused, and the run is as before: the package saved, the
// tones played on the desktop's sound server, nothing printed. The build with confinement
// switched off shows that the probe would have got through. Landlock refuses the reads and
// files from ABI 1 and the TCP connects from ABI 4; the system call filter the rest.
#include <QDir>
#include <QLocalServer>
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
    const int abi = platform::LandlockAbi();
    e2e::SoundServer sound;
    if (!sound.refusal().isEmpty()) {
      QSKIP(qPrintable(sound.refusal()));
    }
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    QTcpServer elsewhere;
    QVERIFY(elsewhere.listen(QHostAddress::LocalHost));
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkpath(".ssh"));
    QFile secret(home.filePath(".ssh/id_ed25519"));
    QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("private") == 7);
    secret.close();
    // As the X server and the session bus listen.
    QLocalServer unixSocket;
    QVERIFY(unixSocket.listen(home.filePath("socket")));
    QVERIFY(sound.StartListening());

    QStringList environment = e2e::kNoDisplay + sound.ClientEnvironment();
    environment << "LD_PRELOAD=" KORVANI_ESCAPE_PROBE << "KORVANI_PROBE_SECRET=" + secret.fileName()
                << "KORVANI_PROBE_UNIX=" + unixSocket.fullServerName()
                << QString("KORVANI_PROBE_PORT=%1").arg(elsewhere.serverPort());
#if defined(__SANITIZE_ADDRESS__)
    // The probe comes before the sanitizer's runtime in the list of libraries.
    environment << "ASAN_OPTIONS=" + qEnvironmentVariable("ASAN_OPTIONS") +
                       ":verify_asan_link_order=0";
#endif
    ProgramRun run(host.HostAndPort(), {.environment = environment, .program = program});
    const QString fault = run.EndFault();
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    QMap<QString, int> outcomes = ReadReport(run.folder.Path(kReport));
    // The system call filter refuses with EPERM, Landlock with EACCES.
    QMap<QString, int> expected{
        {"read", EACCES},       {"create", EACCES},  {"unix", EPERM},           {"run", EPERM},
        {"interpreter", EPERM}, {"connect", EACCES}, {"window-connect", EACCES}};
    for (auto& outcome : expected) {
      outcome = confined ? outcome : 0;
    }
    // What the kernel's Landlock cannot refuse yet is not asked of it.
    for (const char* name : {"read", "create", "connect", "window-connect"}) {
      const bool tcp = QString(name).contains("connect");
      if (confined && abi < (tcp ? 4 : 1)) {
        outcomes.remove(name);
        expected.remove(name);
      }
    }
    QCOMPARE(outcomes, expected);
    QVERIFY(run.Saved());
    QStringList entries{e2e::kPackage, kReport, e2e::kProgramName};
    if (!confined) {
      entries << "planted";
      entries.sort();
    }
    QCOMPARE(run.folder.Entries(), entries);
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
