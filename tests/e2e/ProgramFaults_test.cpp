// The real program against the package host's faults, run as a setup program runs
// it, from a folder of its own. Without a display: the window is the same on any
// platform, so these runs need no window manager and leave the X display to others.
// All cases start together, so that their waits (the pause, the real time-outs)
// overlap; each row then checks how its own run ended.
#include <QtTest>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "e2e/CaseEnd.h"
#include "e2e/FaultCases.h"
#include "e2e/HttpsHost.h"
#include "e2e/ProgramRun.h"
#include "e2e/ServerAddress.h"
#include "e2e/SoundServer.h"
#include "support/ChildProcess.h"
#include "support/host/PackageHostProcess.h"

using namespace korvani;
using e2e::FaultCase;
using e2e::ProgramRun;

namespace {

// One case's hosts and run of the program, started at once.
struct CaseRun {
  const e2e::HttpsHost https;
  QString refusal;  // why this machine cannot run the case
  std::optional<host::PackageHostProcess> host;
  std::optional<ProgramRun> run;

  explicit CaseRun(const FaultCase& fault) : https(fault.https) {
    if (!https.IsReady()) {
      return;
    }
    if (!https.TrustedCa().isEmpty()) {
      refusal = e2e::PrivateMountRefusal();
      if (!refusal.isEmpty()) {
        return;
      }
    }
    host.emplace(QStringList{"--generate"} + fault.hostArguments + https.RedirectArguments());
    if (!host->IsReady()) {
      return;
    }
    // A build on HTTPS fetches from its origin; the plain host then sees nothing.
    run.emplace(
        https.IsOrigin() ? https.HostAndPort() : e2e::ServerAddress(fault, *host),
        ProgramRun::Options{.environment = e2e::kNoDisplay + fault.environment,
                            .fault = fault,
                            .trustedCa = https.TrustedCa(),
                            .program = https.IsOrigin() ? QStringLiteral(KORVANI_HTTPS_PROGRAM)
                                                        : QStringLiteral(KORVANI_PROGRAM)});
  }
};

// The bare environments a setup program may be started in (sudo, su, cron, a container),
// where libpulse, which ALSA loads to ask whether a sound server runs, finds no folder
// of its own. HOME is a new, empty folder in each: no ~/.config, no cookie in it.
struct BareEnvironment {
  QString name;
  QStringList environment;   // besides HOME, as ProgramRun takes it
  bool soundServer = false;  // the test's own sound server reachable
};

const QList<BareEnvironment> kBareEnvironments{
    {"no XDG_RUNTIME_DIR", {"XDG_RUNTIME_DIR"}},
    {"an XDG_RUNTIME_DIR that does not exist", {"XDG_RUNTIME_DIR=/nonexistent/korvani-runtime"}},
    {"no XDG_RUNTIME_DIR, no PULSE_COOKIE, a sound server", {"XDG_RUNTIME_DIR"}, true},
};

// A run in a bare environment: its own empty HOME, so that no folder an earlier run
// made (~/.config/pulse) can hide what the program meets on a fresh machine.
struct BareRun {
  QTemporaryDir home;
  std::optional<ProgramRun> run;
};

}  // namespace

class ProgramFaultsTest : public QObject {
  Q_OBJECT

  std::map<QString, std::unique_ptr<CaseRun>> cases_;
  std::optional<host::PackageHostProcess> bareHost_;
  std::optional<e2e::SoundServer> sound_;
  std::map<QString, std::unique_ptr<BareRun>> bareRuns_;

  void StartBareRuns() {
    bareHost_.emplace(QStringList{"--generate"});
    sound_.emplace();
    if (!bareHost_->IsReady()) {
      return;
    }
    for (const BareEnvironment& bare : kBareEnvironments) {
      if (bare.soundServer && !sound_->refusal().isEmpty()) {
        continue;
      }
      auto started = std::make_unique<BareRun>();
      // Nothing of the test's own environment that libpulse finds its folders by; the
      // sound server's cookie taken away again, the changes being applied in order.
      QStringList environment =
          e2e::kNoDisplay + QStringList{"HOME=" + started->home.path(), "XDG_CONFIG_HOME",
                                        "PULSE_SERVER", "ALSA_CONFIG_PATH"};
      if (bare.soundServer) {
        environment += sound_->ClientEnvironment();
      }
      environment << "PULSE_COOKIE";
      started->run.emplace(bareHost_->HostAndPort(),
                           ProgramRun::Options{.environment = environment + bare.environment});
      bareRuns_.emplace(bare.name, std::move(started));
    }
  }

 private slots:
  void initTestCase() {
    QVERIFY(!e2e::ProgramBytes().isEmpty());
    // The longest waits start first, so that the others start during them.
    QList<e2e::NamedFaultCase> cases = e2e::FaultCases(e2e::Runner::Process);
    std::stable_sort(cases.begin(), cases.end(), [](const auto& first, const auto& second) {
      return first.fault.processLastsAtLeastMs > second.fault.processLastsAtLeastMs;
    });
    for (const auto& [name, fault] : cases) {
      cases_.emplace(name, std::make_unique<CaseRun>(fault));
    }
    StartBareRuns();
  }
  void cleanupTestCase() {
    cases_.clear();
    bareRuns_.clear();
  }

  // An OS family the catalogue does not list: nothing is asked of the host. Before the
  // cases' checks, so that it runs while they wait.
  void unlistedFamilyFetchesNothing() {
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    ProgramRun run(host.HostAndPort(), {.arguments = {"XP", "de"}, .environment = e2e::kNoDisplay});
    const QString end = run.EndFault();
    QVERIFY2(end.isEmpty(), qPrintable(end));
    QVERIFY(host.RequestLog().isEmpty());
    QCOMPARE(run.folder.Entries(), (QStringList{e2e::kPackage, e2e::kProgramName}));
    QVERIFY(run.folder.Package() == e2e::RunFolder::OldPackage());
  }

  void everyFaultEndsCleanly_data() { e2e::AddFaultCases(e2e::Runner::Process); }
  void everyFaultEndsCleanly() {
    QFETCH(FaultCase, fault);
    CaseRun& started = *cases_.at(QTest::currentDataTag());
    QVERIFY2(started.https.IsReady(), qPrintable(started.https.Failure()));
    if (!started.refusal.isEmpty()) {
      QSKIP(qPrintable("the test CA cannot be trusted in a private mount namespace: " +
                       started.refusal));
    }
    QVERIFY2(started.host->IsReady(), qPrintable(started.host->Failure()));
    ProgramRun& run = *started.run;
    const host::PackageHostProcess& host = *started.host;
    const e2e::HttpsHost& https = started.https;
    const QString end = run.EndFault(60000);
    QVERIFY2(end.isEmpty(), qPrintable(end));

    QVERIFY2(run.finishedAt >= fault.processLastsAtLeastMs,
             qPrintable(QString("ended after %1 ms").arg(run.finishedAt)));
    e2e::VerifyCaseEnd(fault, run.folder, host, https);
  }

  // The program saves the package and prints nothing, whatever libpulse meets.
  void bareEnvironmentSavesAndPrintsNothing_data() {
    QTest::addColumn<bool>("soundServer");
    for (const BareEnvironment& bare : kBareEnvironments) {
      QTest::newRow(qPrintable(bare.name)) << bare.soundServer;
    }
  }
  void bareEnvironmentSavesAndPrintsNothing() {
    QFETCH(bool, soundServer);
    QVERIFY2(bareHost_->IsReady(), qPrintable(bareHost_->Failure()));
    if (soundServer && !sound_->refusal().isEmpty()) {
      QSKIP(qPrintable(sound_->refusal()));
    }
    BareRun& bare = *bareRuns_.at(QTest::currentDataTag());
    const QString end = bare.run->EndFault();
    QVERIFY2(end.isEmpty(), qPrintable(end));
    QVERIFY(bare.run->Saved());
    QCOMPARE(bare.run->folder.Entries(), (QStringList{e2e::kPackage, e2e::kProgramName}));
  }
};

QTEST_MAIN(ProgramFaultsTest)
#include "ProgramFaults_test.moc"
