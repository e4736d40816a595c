#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include "e2e/FaultCases.h"
#include "e2e/RunFolder.h"
#include "support/ChildProcess.h"
#include "support/host/PackageHostProcess.h"

// Runs of the real program (KORVANI_PROGRAM, defined for the tests that use this).
namespace korvani::e2e {

inline QByteArray ProgramBytes(const QString& program = QStringLiteral(KORVANI_PROGRAM)) {
  QFile file(program);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Unset, they leave the program on Qt's offscreen platform: runs that look only at the
// disk or the host need no desktop, and leave the X display to the tests of windows.
inline const QStringList kNoDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

// unshare's arguments to run the shell `script` as root in a private mount namespace, so
// that its mounts vanish with it: `sh -c script sh arguments...`.
inline QStringList InPrivateMounts(const QString& script, const QStringList& arguments) {
  return QStringList{"--mount", "--propagation", "private", "sh", "-c", script, "sh"} + arguments;
}

// Why mounts in a private mount namespace cannot be made here (no unshare, or no right
// to mount); empty when they can. Asked once.
inline QString PrivateMountRefusal() {
  static const QString refusal = [] {
    const support::ChildRun probe =
        support::RunChild("unshare", InPrivateMounts("mount -t tmpfs none /mnt", {}));
    return probe.EndedCleanly() ? QString()
                                : "unshare: " + QString::fromLocal8Bit(probe.errors).trimmed();
  }();
  return refusal;
}

// The trust store libcurl reads; its path is compiled in, and no variable moves it.
inline const char* const kTrustStore = "/etc/ssl/certs/ca-certificates.crt";

// unshare's arguments to run `program` where `ca` stands in for the trust store, so the
// program trusts that CA alone and the real store stays as it is.
inline QStringList TrustingOnly(const QString& ca, const QString& program,
                                const QStringList& arguments) {
  return InPrivateMounts(QString(R"(mount --bind "$1" %1 && shift && exec "$@")").arg(kTrustStore),
                         QStringList{ca, program} + arguments);
}

// One run of the program as a setup program runs it: copied into a folder of its
// own (with what the case puts there), started from another working folder, with the
// package host at `host`.
class ProgramRun {
 public:
  struct Options {
    QStringList arguments{};
    QStringList environment{};  // "NAME=VALUE" sets, a bare "NAME" removes
    FaultCase fault{};          // what the folder holds beside the program
    QString trustedCa{};        // the only CA the program trusts; none: the system's
    QString program = QStringLiteral(KORVANI_PROGRAM);  // the build that runs
    QString parentFolder{};  // where the run's folder lies; none: the temporary folder
  };

  RunFolder folder;
  QProcess process;
  QElapsedTimer clock;  // from the start
  qint64 finishedAt = -1;

  ProgramRun(const QString& host, Options options)
      : folder(kProgramName, ProgramBytes(options.program), options.fault, options.parentFolder) {
    process.setProcessEnvironment(support::EnvironmentWith(
        QStringList{"KORVANI_PACKAGE_HOST=" + host} + options.environment));
    process.setWorkingDirectory(QDir::tempPath());  // not the program's folder
    QObject::connect(&process, &QProcess::finished, [this] { finishedAt = clock.elapsed(); });
    clock.start();
    if (options.trustedCa.isEmpty()) {
      process.start(folder.Path(kProgramName), options.arguments);
    } else {
      process.start("unshare",
                    TrustingOnly(options.trustedCa, folder.Path(kProgramName), options.arguments));
    }
  }
  ~ProgramRun() {
    if (!Finished()) {
      process.kill();
      process.waitForFinished(5000);
    }
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool Finished() const { return process.state() == QProcess::NotRunning; }
  // The package the host serves lies where the old one was.
  bool Saved() const {
    return folder.Package() == host::PackageHostProcess::PlaceholderPackage(kPackage);
  }

  // What is wrong with the end of the run, once it has ended within `deadlineMs`:
  // empty when it ended normally with status 0, having printed nothing.
  QString EndFault(int deadlineMs = 30000) {
    if (!QTest::qWaitFor([&] { return Finished(); }, deadlineMs)) {
      return "still running";
    }
    const QByteArray output = process.readAllStandardOutput() + process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        !output.isEmpty()) {
      return QString("ended with %1 status %2, printing \"%3\"")
          .arg(process.exitStatus() == QProcess::NormalExit ? "exit" : "signal")
          .arg(process.exitCode())
          .arg(QString::fromLocal8Bit(output));
    }
    return {};
  }
};

}  // namespace korvani::e2e
