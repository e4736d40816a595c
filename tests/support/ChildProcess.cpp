#include "support/ChildProcess.h"

#include <QElapsedTimer>

namespace korvani::support {

QProcessEnvironment EnvironmentWith(const QStringList& changes) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const QString& change : changes) {
    if (change.contains('=')) {
      environment.insert(change.section('=', 0, 0), change.section('=', 1));
    } else {
      environment.remove(change);
    }
  }
  return environment;
}

ChildRun RunChild(const QString& program, const QStringList& arguments, const QStringList& changes,
                  int deadlineMs) {
  QProcess process;
  process.setProcessEnvironment(EnvironmentWith(changes));
  QElapsedTimer clock;
  clock.start();
  process.start(program, arguments, QIODevice::ReadOnly);  // nothing to read on its input
  ChildRun run;
  run.finished = process.waitForFinished(deadlineMs);
  run.elapsedMs = clock.elapsed();
  if (!run.finished) {
    run.errors = process.errorString().toLocal8Bit();
    process.kill();
    process.waitForFinished(5000);
    return run;
  }
  run.exitStatus = process.exitStatus();
  run.exitCode = process.exitCode();
  run.output = process.readAllStandardOutput();
  run.errors = process.readAllStandardError();
  return run;
}

QString Output(const QString& program, const QStringList& arguments, const QStringList& changes) {
  const ChildRun run = RunChild(program, arguments, changes);
  return run.finished ? QString::fromLocal8Bit(run.output) : QString();
}

void Stop(QProcess& child, int deadlineMs) {
  child.terminate();
  if (!child.waitForFinished(deadlineMs)) {
    child.kill();
    child.waitForFinished(deadlineMs);
  }
}

}  // namespace korvani::support
