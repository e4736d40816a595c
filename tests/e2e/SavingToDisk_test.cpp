// How the real program's save meets real file systems: memory that does not grow with
// the package, a folder that cannot be written, FAT through FUSE, a kill part-way and a
// disk that fills part-way. Some checks need root (mounts in a private mount namespace,
// a network namespace of the test's own, FUSE); where that is refused they are skipped.
#include <fcntl.h>
#include <linux/sched.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QtTest>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/ProgramRun.h"
#include "platform/UniqueFd.h"
#include "support/ChildProcess.h"
#include "support/SpawnedChild.h"
#include "support/host/PackageHostProcess.h"

using namespace korvani;
using e2e::FatFolder;
using e2e::FaultCase;
using e2e::kProgramName;
using e2e::ProgramBytes;
using platform::UniqueFd;

namespace {

constexpr qint64 kMiB = qint64{1} << 20;

// Sent to `host`, without a display: these runs look only at the disk.
QProcessEnvironment SentTo(const host::PackageHostProcess& host) {
  return support::EnvironmentWith(e2e::kNoDisplay +
                                  QStringList{"KORVANI_PACKAGE_HOST=" + host.HostAndPort()});
}

// Runs `process` to its end; false when it outlived `deadlineMs` (it is killed then).
bool Finish(QProcess& process, int deadlineMs) {
  if (process.waitForFinished(deadlineMs)) {
    return true;
  }
  process.kill();
  process.waitForFinished(5000);
  return false;
}

// The program ended as it always must: status 0, nothing printed.
void VerifyQuietEnd(QProcess& process) {
  QCOMPARE(process.exitStatus(), QProcess::NormalExit);
  QCOMPARE(process.exitCode(), 0);
  QCOMPARE(process.readAllStandardOutput(), QByteArray());
  QCOMPARE(process.readAllStandardError(), QByteArray());
}

// The peak resident memory (VmHWM at exit) of one run of the program from `folder`, in
// KiB; nothing when the run failed or outlived `deadlineMs`.
std::optional<long> PeakResidentKib(const e2e::RunFolder& folder,
                                    const host::PackageHostProcess& host, int deadlineMs) {
  std::vector<std::string> environment;
  for (const QString& variable : SentTo(host).toStringList()) {
    environment.push_back(variable.toStdString());
  }
  support::SpawnedChild run({folder.Path(kProgramName).toStdString()}, environment);
  const std::optional<support::ChildEnding> ending = run.ReapWithin(deadlineMs);
  if (!ending || !ending->ExitedCleanly()) {
    return std::nullopt;
  }
  return ending->peakResidentKib;
}

// The bytes in the file `pid` has open in `folder` for writing the package (unnamed or
// hidden); -1 when it has none open.
qint64 BytesBeingWritten(qint64 pid, const QString& folder) {
  const QString fds = QString("/proc/%1/fd").arg(pid);
  const std::string prefix = (folder + "/").toStdString();
  for (const QString& fd :
       QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    const std::string link = QString(fds + "/" + fd).toStdString();
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length <= 0 ||
        !std::string_view(target, static_cast<std::size_t>(length)).starts_with(prefix)) {
      continue;
    }
    struct stat status {};
    if (::stat(link.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & S_IXUSR) == 0) {
      return status.st_size;
    }
  }
  return -1;
}

// Puts the calling thread, and every process it starts from then on, into a network
// namespace of its own with the loopback device up, and back into the old one at the
// end. The loopback's counters then count this test's traffic alone.
class PrivateNetwork {
 public:
  PrivateNetwork() : old_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (!old_.IsOpen() || ::unshare(CLONE_NEWNET) != 0) {
      return;
    }
    entered_ = true;
    const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    up_ = socket.IsOpen() && ::ioctl(socket.Get(), SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up_ = up_ && ::ioctl(socket.Get(), SIOCSIFFLAGS, &request) == 0;
  }
  PrivateNetwork(const PrivateNetwork&) = delete;
  PrivateNetwork& operator=(const PrivateNetwork&) = delete;
  ~PrivateNetwork() {
    if (entered_) {
      ::setns(old_.Get(), CLONE_NEWNET);
    }
  }

  bool Ready() const { return entered_ && up_; }

  // Bytes sent over the loopback device in this namespace so far.
  static qint64 LoopbackBytesSent() {
    QFile devices("/proc/thread-self/net/dev");
    if (!devices.open(QIODevice::ReadOnly | QIODevice::Text)) {
      return -1;
    }
    for (const QByteArray& line : devices.readAll().split('\n')) {
      const QList<QByteArray> fields = line.simplified().split(' ');
      // "lo: rx_bytes rx_packets ... (8 receive fields) tx_bytes ..."
      if (fields.size() > 9 && fields[0] == "lo:") {
        return fields[9].toLongLong();
      }
    }
    return -1;
  }

 private:
  UniqueFd old_;
  bool entered_ = false;
  bool up_ = false;
};

// When, during a slow transfer, the program is killed.
struct KillMoment {
  qreal shareWritten = -1;  // of the body, in the unfinished file; -1: see below
  bool afterSave = false;   // during the pause, after the package was put in place
};

}  // namespace

Q_DECLARE_METATYPE(KillMoment)

class SavingToDiskTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(!ProgramBytes().isEmpty()); }

  // A 1 GiB package costs the program no more memory than a 1 KB one, give or take what
  // libcurl and the file system hold at a time.
  void memoryDoesNotGrowWithThePackage() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer holds freed memory in quarantine: the figure is the plain build's");
#endif
    constexpr qint64 kLarge = 1024 * kMiB;
    // In memory where the system has a folder there (tmpfs): the figure is the program's
    // memory, and a disk that takes its time over a gigabyte's sync adds nothing to it.
    const QStorageInfo shared("/dev/shm");
    const QString parent = shared.isValid() && shared.fileSystemType() == "tmpfs" &&
                                   shared.bytesAvailable() >= 2 * kLarge
                               ? shared.rootPath()
                               : QDir::tempPath();
    if (QStorageInfo(parent).bytesAvailable() < 2 * kLarge) {
      QSKIP("less than 2 GiB free in the temporary folder");
    }
    std::optional<long> peaks[2];
    const qint64 sizes[2] = {1024, kLarge};
    for (int i = 0; i < 2; ++i) {
      host::PackageHostProcess host({"--file", QString("%1=%2").arg(e2e::kPackage).arg(sizes[i])},
                                    120000);
      QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
      const e2e::RunFolder folder(kProgramName, ProgramBytes(), FaultCase{}, parent);
      peaks[i] = PeakResidentKib(folder, host, 300000);
      QVERIFY2(peaks[i], "the run failed");
      QCOMPARE(QFileInfo(folder.Path(e2e::kPackage)).size(), sizes[i]);
    }
    const long growthKib = *peaks[1] - *peaks[0];
    qInfo("peak resident memory: %ld KiB for 1 KB, %ld KiB for 1 GiB", *peaks[0], *peaks[1]);
    QVERIFY2(growthKib <= long{64} * 1024, qPrintable(QString("grew by %1 KiB").arg(growthKib)));
  }

  // A folder that cannot be written fails the fetch before anything is asked of the host,
  // even for root: the folder is a read-only bind mount.
  void readOnlyFolderFailsBeforeTheRequest() {
    const QString refusal = e2e::PrivateMountRefusal();
    if (!refusal.isEmpty()) {
      QSKIP(qPrintable("no private mount namespace: " + refusal));
    }
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    const e2e::RunFolder folder(kProgramName, ProgramBytes(), FaultCase{});
    const QStringList entries = folder.Entries();

    QProcess run;
    run.setProcessEnvironment(SentTo(host));
    run.start("unshare", e2e::InPrivateMounts(R"(mount --bind "$1" "$1" &&
                                            mount -o remount,bind,ro "$1" && exec "$1/$2")",
                                              {folder.path(), kProgramName}));
    QVERIFY(Finish(run, 30000));

    VerifyQuietEnd(run);
    QVERIFY(host.RequestLog().isEmpty());
    QCOMPARE(folder.Entries(), entries);
    QVERIFY(folder.Package() == e2e::RunFolder::OldPackage());
  }

  // From a FAT stick, which has neither unnamed files nor permissions: the package is
  // saved, a second run replaces it, and nothing else is left.
  void fatStickTakesAndReplacesThePackage() {
    const FatFolder fat;
    if (!fat.Refusal().isEmpty()) {
      QSKIP(qPrintable("no FAT folder through FUSE: " + fat.Refusal()));
    }
    const QString program = fat.Path() + "/" + kProgramName;
    QVERIFY(QFile::copy(QStringLiteral(KORVANI_PROGRAM), program));
    const QString firstSize = QString("%1=%2").arg(e2e::kPackage).arg(300000);
    for (const QStringList& hostArguments :
         {QStringList{"--file", firstSize}, QStringList{"--generate"}}) {
      host::PackageHostProcess host(hostArguments);
      QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
      QProcess run;
      run.setProcessEnvironment(SentTo(host));
      run.start(program, {});
      QVERIFY(Finish(run, 60000));

      VerifyQuietEnd(run);
      QCOMPARE(QDir(fat.Path())
                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
               (QStringList{e2e::kPackage, kProgramName}));
      QFile saved(fat.Path() + "/" + e2e::kPackage);
      QVERIFY(saved.open(QIODevice::ReadOnly));
      QVERIFY(saved.readAll() ==
              (hostArguments.contains("--generate")
                   ? host::PackageHostProcess::PlaceholderPackage(e2e::kPackage)
                   : host::PackageHostProcess::GeneratedContent(e2e::kPackage, 300000)));
    }
  }

  void killedPartWayLeavesOldOrNewWhole_data() {
    QTest::addColumn<KillMoment>("moment");
    QTest::newRow("request sent, nothing received") << KillMoment{.shareWritten = 0};
    QTest::newRow("a quarter received") << KillMoment{.shareWritten = 0.25};
    QTest::newRow("half received") << KillMoment{.shareWritten = 0.5};
    QTest::newRow("nearly all received") << KillMoment{.shareWritten = 0.9};
    QTest::newRow("saved, during the pause") << KillMoment{.afterSave = true};
  }

  // SIGKILL leaves the folder as it was or with the new package whole: an unnamed file
  // vanishes with the process.
  void killedPartWayLeavesOldOrNewWhole() {
    QFETCH(KillMoment, moment);
    host::PackageHostProcess host({"--generate", "--fault", "trickle:400000"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    const e2e::RunFolder folder(kProgramName, ProgramBytes(), FaultCase{});
    const QByteArray package = host::PackageHostProcess::PlaceholderPackage(e2e::kPackage);

    QProcess run;
    run.setProcessEnvironment(SentTo(host));
    run.start(folder.Path(kProgramName), {});
    QVERIFY(run.waitForStarted());
    if (moment.afterSave) {
      QTRY_VERIFY_WITH_TIMEOUT(folder.Package() == package, 20000);
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(!host.RequestLog().isEmpty(), 10000);
      const qint64 wanted = qRound64(moment.shareWritten * static_cast<qreal>(package.size()));
      QTRY_VERIFY_WITH_TIMEOUT(BytesBeingWritten(run.processId(), folder.path()) >= wanted, 20000);
    }
    ::kill(static_cast<pid_t>(run.processId()), SIGKILL);
    QVERIFY(Finish(run, 10000));

    QCOMPARE(run.exitStatus(), QProcess::CrashExit);
    QCOMPARE(folder.Entries(), (QStringList{e2e::kPackage, kProgramName}));
    QVERIFY(folder.Package() == (moment.afterSave ? package : e2e::RunFolder::OldPackage()));
  }

  // A disk that fills part-way ends the transfer there: the old package stays, nothing
  // is left, and far less than the body crossed the loopback.
  void fullDiskStopsTheTransfer() {
    const QString refusal = e2e::PrivateMountRefusal();
    if (!refusal.isEmpty()) {
      QSKIP(qPrintable("no private mount namespace: " + refusal));
    }
    const PrivateNetwork network;
    if (!network.Ready()) {
      QSKIP("no network namespace of the test's own");
    }
    constexpr qint64 kBody = 64 * kMiB;
    host::PackageHostProcess host({"--file", QString("%1=%2").arg(e2e::kPackage).arg(kBody)},
                                  60000);
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    // The program and the old package in a folder of their own, copied into a tmpfs
    // that has 1 MiB left over.
    const e2e::RunFolder staged(kProgramName, ProgramBytes(), FaultCase{});
    const qint64 tmpfsBytes =
        ProgramBytes().size() + e2e::RunFolder::OldPackage().size() + 2 * kMiB;
    QTemporaryDir mountPoint;
    QTemporaryDir left;  // what the folder held after the run, copied out
    const char* const script = R"(
      mount -t tmpfs -o size="$4" korvani-full "$1" && cp "$2/$5" "$2/$6" "$1/" || exit 99
      "$1/$5"; status=$?
      ls -A "$1" >"$3/entries" && cp "$1/$6" "$3/package" && exit "$status")";
    const qint64 sentBefore = PrivateNetwork::LoopbackBytesSent();

    QProcess run;
    run.setProcessEnvironment(SentTo(host));
    run.start("unshare", e2e::InPrivateMounts(
                             script, {mountPoint.path(), staged.path(), left.path(),
                                      QString::number(tmpfsBytes), kProgramName, e2e::kPackage}));
    QVERIFY(Finish(run, 60000));

    VerifyQuietEnd(run);
    QCOMPARE(host.RequestLog().size(), 1);
    QFile entries(left.filePath("entries"));
    QVERIFY(entries.open(QIODevice::ReadOnly));
    QStringList names = QString::fromUtf8(entries.readAll()).split('\n', Qt::SkipEmptyParts);
    names.sort();
    QCOMPARE(names, (QStringList{e2e::kPackage, kProgramName}));
    QFile package(left.filePath("package"));
    QVERIFY(package.open(QIODevice::ReadOnly));
    QVERIFY(package.readAll() == e2e::RunFolder::OldPackage());
    const qint64 sent = PrivateNetwork::LoopbackBytesSent() - sentBefore;
    QVERIFY2(sent < kBody, qPrintable(QString("%1 bytes crossed the loopback").arg(sent)));
  }
};

QTEST_MAIN(SavingToDiskTest)
#include "SavingToDisk_test.moc"
