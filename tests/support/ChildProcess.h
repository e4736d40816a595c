#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace korvani::support {

// The test's own environment with `changes`: "NAME=VALUE" sets, a bare "NAME" removes.
QProcessEnvironment EnvironmentWith(const QStringList& changes);

// How a child process that was run to its end went.
struct ChildRun {
  bool finished = false;  // it ended before the deadline; it was killed otherwise
  QProcess::ExitStatus exitStatus = QProcess::CrashExit;
  int exitCode = -1;
  QByteArray output;  // standard output
  QByteArray errors;  // standard error
  qint64 elapsedMs = 0;

  bool EndedCleanly() const {
    return finished && exitStatus == QProcess::NormalExit && exitCode == 0;
  }
  QByteArray Printed() const { return output + errors; }
};

// Runs `program` with the environment `changes` (as EnvironmentWith) until it ends,
// or kills it once `deadlineMs` have passed.
ChildRun RunChild(const QString& program, const QStringList& arguments,
                  const QStringList& changes = {}, int deadlineMs = 10000);

// What `program` prints on standard output; empty when it does not end in time.
QString Output(const QString& program, const QStringList& arguments,
               const QStringList& changes = {});

// Ends a child the test started: SIGTERM, then SIGKILL if it has not ended after
// `deadlineMs`.
void Stop(QProcess& child, int deadlineMs = 5000);

}  // namespace korvani::support
