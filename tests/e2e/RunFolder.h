#pragma once

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "e2e/FaultCases.h"
#include "support/ChildProcess.h"

namespace korvani::e2e {

// The name the program has in its folder, as a setup program copies it there.
inline const QString kProgramName = "korvani-download";

// A fresh folder for one run, holding what the program finds beside itself: a
// file of its own, and an older, longer copy of the package (or a folder in
// its place), so that a run shows whether it replaced the package whole or
// left it untouched. It lies in `parent`, or in the temporary folder.
class RunFolder {
 public:
  RunFolder(const QString& programFile, const QByteArray& programBytes, const FaultCase& fault,
            const QString& parent = {})
      : dir_((parent.isEmpty() ? QDir::tempPath() : parent) + "/korvani-run-XXXXXX") {
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

// A FAT image mounted through FUSE (fusefat) under a temporary folder.
class FatFolder {
 public:
  FatFolder() {
    const QString image = dir_.filePath("fat.img");
    QDir(dir_.path()).mkdir("mnt");
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(32 * 1024 * 1024)) {
      refusal_ = "cannot make the image";
      return;
    }
    file.close();
    refusal_ = Run("mkfs.vfat", {image});
    if (refusal_.isEmpty()) {
      refusal_ = Run("fusefat", {"-o", "rw+", image, Path()});
      mounted_ = refusal_.isEmpty();
    }
  }
  FatFolder(const FatFolder&) = delete;
  FatFolder& operator=(const FatFolder&) = delete;
  ~FatFolder() {
    if (mounted_) {
      Run("fusermount", {"-u", "-z", Path()});
    }
  }

  // Why no FAT folder could be mounted; empty when it was.
  QString Refusal() const { return refusal_; }
  QString Path() const { return dir_.filePath("mnt"); }

 private:
  static QString Run(const QString& program, const QStringList& arguments) {
    if (QStandardPaths::findExecutable(program).isEmpty() &&
        QStandardPaths::findExecutable(program, {"/sbin", "/usr/sbin"}).isEmpty()) {
      return program + " is not installed";
    }
    const support::ChildRun run = support::RunChild(program, arguments, {}, 20000);
    return run.EndedCleanly() ? QString()
                              : program + ": " + QString::fromLocal8Bit(run.errors).trimmed();
  }

  QTemporaryDir dir_;
  QString refusal_;
  bool mounted_ = false;
};

}  // namespace korvani::e2e
