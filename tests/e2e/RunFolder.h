#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "e2e/FaultCases.h"

namespace korvani::e2e {

// The name the program has in its folder, as a setup program copies it there.
inline const QString kProgramName = "korvani-download";

// A fresh folder for one run, holding what the program finds beside itself: a
// file of its own, and an older, longer copy of the package (or a folder in
// its place), so that a run shows whether it replaced the package whole or
// left it untouched.
class RunFolder {
 public:
  RunFolder(const QString& programFile, const QByteArray& programBytes, const FaultCase& fault) {
    QFile program(Path(programFile));
    program.open(QIODevice::WriteOnly);
    program.write(programBytes);
    program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
    program.close();
    if (fault.destinationIsFolder) {
      QDir(path()).mkdir(kPackage);
    } else {
      QFile old(Path(kPackage));
      old.open(QIODevice::WriteOnly);
      old.write(OldPackage());
    }
  }

  QString path() const { return dir_.path(); }
  QString Path(const QString& name) const { return dir_.filePath(name); }

  static QByteArray OldPackage() { return QByteArray(qsizetype{2} * 1024 * 1024, 'o'); }

  // Everything in the folder, hidden files included: a temporary file left
  // behind would show here.
  QStringList Entries() const {
    return QDir(path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
  }

  QByteArray Package() const {
    QFile file(Path(kPackage));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

 private:
  QTemporaryDir dir_;
};

}  // namespace korvani::e2e
