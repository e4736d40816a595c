#include "platform/FileSystem.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using korvani::platform::LocalFileSystem;

namespace {

std::vector<std::byte> Bytes(std::size_t count, char first) {
  std::vector<std::byte> bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<std::byte>(first + static_cast<char>(i % 23));
  }
  return bytes;
}

void WriteFile(const fs::path& path, const std::vector<std::byte>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::byte> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> chars{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::byte> bytes(chars.size());
  std::transform(chars.begin(), chars.end(), bytes.begin(),
                 [](char c) { return static_cast<std::byte>(c); });
  return bytes;
}

// Every name in `folder`, hidden ones included: a leftover temporary file shows here.
QStringList Entries(const fs::path& folder) {
  QStringList names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names << QString::fromStdString(entry.path().filename().string());
  }
  names.sort();
  return names;
}

// Sets the process umask for one test and puts the old one back.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

// Makes every write beyond `bytes` into any file fail with EFBIG (root included), as a
// full disk would, and puts the old limit back.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old_;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;
  ~ScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

using Temporaries = LocalFileSystem::Temporaries;

// Writes `body` the way a fetch does, in pieces of one read, and commits it. False when
// any step failed.
bool Replace(LocalFileSystem& files, const fs::path& destination, std::span<const std::byte> body) {
  const std::unique_ptr<korvani::platform::Replacement> replacement =
      files.BeginReplacement(destination);
  if (!replacement) {
    return false;
  }
  constexpr std::size_t kPiece = 8162;
  for (std::size_t offset = 0; offset < body.size(); offset += kPiece) {
    if (!replacement->Append(body.subspan(offset, std::min(kPiece, body.size() - offset)))) {
      return false;
    }
  }
  return replacement->Commit();
}

// Each test runs with both kinds of temporary file.
void AddTemporariesColumn(const std::function<void(const char*, Temporaries)>& addRows) {
  QTest::addColumn<Temporaries>("temporaries");
  addRows("unnamed", Temporaries::UnnamedWhereSupported);
  addRows("named", Temporaries::NamedOnly);
}

enum class Obstacle {
  DestinationIsFolder,
  FolderMissing,
  FolderReadOnly,
  DiskFullMidway,
  CommittedAfterFailedAppend,
  AbandonedMidway
};

}  // namespace

Q_DECLARE_METATYPE(Obstacle)
Q_DECLARE_METATYPE(Temporaries)

class LocalFileSystemTest : public QObject {
  Q_OBJECT

 private slots:
  void replacesWholeFileAndLeavesNoTemporary_data();
  void replacesWholeFileAndLeavesNoTemporary();
  void newFileGetsPermissionsOfUmask_data();
  void newFileGetsPermissionsOfUmask();
  void failedReplaceLeavesOldFileAndNoTemporary_data();
  void failedReplaceLeavesOldFileAndNoTemporary();
  void holdsOrdinaryFile_data();
  void holdsOrdinaryFile();
  void programFolderIsExecutablesNotWorkingFolder();
  void abandoningTellsWhetherAFileWasPublished_data();
  void abandoningTellsWhetherAFileWasPublished();
};

void LocalFileSystemTest::replacesWholeFileAndLeavesNoTemporary_data() {
  QTest::addColumn<int>("oldSize");  // -1: no old file
  QTest::addColumn<int>("newSize");
  AddTemporariesColumn([](const char* kind, Temporaries temporaries) {
    const auto row = [&](const char* name) -> QTestData& {
      return QTest::addRow("%s, %s", name, kind);
    };
    row("no old file") << -1 << 5000 << temporaries;
    row("old file longer: no stale tail") << 100000 << 10 << temporaries;
    row("old file shorter") << 10 << 100000 << temporaries;
    row("empty body") << 50 << 0 << temporaries;
    row("body past several write-back steps") << -1 << (9 << 20) << temporaries;
  });
}

void LocalFileSystemTest::replacesWholeFileAndLeavesNoTemporary() {
  QFETCH(int, oldSize);
  QFETCH(int, newSize);
  QFETCH(Temporaries, temporaries);
  QTemporaryDir dir;
  const fs::path folder = dir.path().toStdString();
  const fs::path destination = folder / "RUD_UZ7_en.exe";
  const std::vector<std::byte> old = Bytes(static_cast<std::size_t>(std::max(oldSize, 0)), 'a');
  if (oldSize >= 0) {
    WriteFile(destination, old);
  }
  const std::vector<std::byte> body = Bytes(static_cast<std::size_t>(newSize), 'K');
  LocalFileSystem files(folder, temporaries);

  const auto replacement = files.BeginReplacement(destination);
  QVERIFY(replacement);
  QVERIFY(replacement->Append(body));
  // Until the commit, the old file is all there is to see.
  if (oldSize >= 0) {
    QVERIFY(ReadFile(destination) == old);
  } else {
    QVERIFY(!fs::exists(destination));
  }
  QVERIFY(replacement->Commit());

  QVERIFY(ReadFile(destination) == body);
  QCOMPARE(Entries(folder), QStringList{"RUD_UZ7_en.exe"});
}

void LocalFileSystemTest::newFileGetsPermissionsOfUmask_data() {
  AddTemporariesColumn(
      [](const char* kind, Temporaries temporaries) { QTest::newRow(kind) << temporaries; });
}

void LocalFileSystemTest::newFileGetsPermissionsOfUmask() {
  QFETCH(Temporaries, temporaries);
  const ScopedUmask umask(027);
  QTemporaryDir dir;
  const fs::path destination = fs::path(dir.path().toStdString()) / "get?id=5";

  LocalFileSystem files(dir.path().toStdString(), temporaries);
  QVERIFY(Replace(files, destination, Bytes(10, 'x')));

  struct stat status {};
  QCOMPARE(::stat(destination.c_str(), &status), 0);
  QCOMPARE(status.st_mode & 0777, mode_t{0640});
}

void LocalFileSystemTest::failedReplaceLeavesOldFileAndNoTemporary_data() {
  QTest::addColumn<Obstacle>("obstacle");
  AddTemporariesColumn([](const char* kind, Temporaries temporaries) {
    const auto row = [&](const char* name) -> QTestData& {
      return QTest::addRow("%s, %s", name, kind);
    };
    row("destination is a folder") << Obstacle::DestinationIsFolder << temporaries;
    row("folder missing") << Obstacle::FolderMissing << temporaries;
    row("folder read-only") << Obstacle::FolderReadOnly << temporaries;
    row("disk full midway") << Obstacle::DiskFullMidway << temporaries;
    row("committed after a failed append") << Obstacle::CommittedAfterFailedAppend << temporaries;
    row("abandoned midway") << Obstacle::AbandonedMidway << temporaries;
  });
}

void LocalFileSystemTest::failedReplaceLeavesOldFileAndNoTemporary() {
  QFETCH(Obstacle, obstacle);
  QFETCH(Temporaries, temporaries);
  QTemporaryDir dir;
  const fs::path folder = dir.path().toStdString();
  fs::path destination = folder / "package.exe";
  const std::vector<std::byte> old = Bytes(1000, 'o');
  WriteFile(destination, old);
  QStringList entriesBefore = Entries(folder);
  const std::vector<std::byte> body = Bytes(std::size_t{256} * 1024, 'n');
  LocalFileSystem files(folder, temporaries);

  bool replaced = true;
  switch (obstacle) {
    case Obstacle::DestinationIsFolder:
      destination = folder / "sub";
      fs::create_directory(destination);
      entriesBefore = Entries(folder);
      replaced = Replace(files, destination, body);
      QVERIFY(fs::is_directory(destination));
      QVERIFY(fs::is_empty(destination));
      break;
    case Obstacle::FolderMissing:
      QVERIFY(!files.BeginReplacement(folder / "missing" / "package.exe"));
      replaced = false;
      break;
    case Obstacle::FolderReadOnly: {
      if (::geteuid() == 0) {
        QSKIP("root writes into read-only folders");
      }
      fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
      replaced = files.BeginReplacement(destination) != nullptr;
      fs::permissions(folder, fs::perms::owner_all);
      break;
    }
    case Obstacle::DiskFullMidway: {
      const ScopedFileSizeLimit limit(rlim_t{64} * 1024);
      replaced = Replace(files, destination, body);
      break;
    }
    case Obstacle::CommittedAfterFailedAppend: {
      // Space comes back before the commit: only the failure itself can stop the
      // truncated file from being put in place.
      auto replacement = files.BeginReplacement(destination);
      QVERIFY(replacement);
      {
        const ScopedFileSizeLimit limit(rlim_t{64} * 1024);
        QVERIFY(!replacement->Append(body));
      }
      replaced = replacement->Commit();
      break;
    }
    case Obstacle::AbandonedMidway: {
      auto replacement = files.BeginReplacement(destination);
      QVERIFY(replacement);
      QVERIFY(replacement->Append(body));
      replacement.reset();
      replaced = false;
      break;
    }
  }

  QVERIFY(!replaced);
  QCOMPARE(Entries(folder), entriesBefore);
  QVERIFY(ReadFile(folder / "package.exe") == old);
}

// A process about to restart asks this under the lock the rename takes, so that it never
// fetches again what it has already put in place.
void LocalFileSystemTest::abandoningTellsWhetherAFileWasPublished_data() {
  QTest::addColumn<bool>("commit");
  QTest::newRow("committed") << true;
  QTest::newRow("still being written") << false;
}

void LocalFileSystemTest::abandoningTellsWhetherAFileWasPublished() {
  QFETCH(bool, commit);
  QTemporaryDir dir;
  const fs::path folder = dir.path().toStdString();
  // The lock is never released: each row in a child of its own.
  const pid_t child = ::fork();
  if (child == 0) {
    korvani::platform::LocalFileSystem files(folder);
    auto replacement = files.BeginReplacement(folder / "package.exe");
    const bool written =
        replacement && replacement->Append(Bytes(100, 'p')) && (!commit || replacement->Commit());
    ::_exit(!written ? 2 : korvani::platform::AbandonUnfinishedFiles() ? 1 : 0);
  }
  int status = 0;
  QCOMPARE(::waitpid(child, &status, 0), child);
  QVERIFY(WIFEXITED(status));
  QCOMPARE(WEXITSTATUS(status), commit ? 1 : 0);
}

void LocalFileSystemTest::holdsOrdinaryFile_data() {
  QTest::addColumn<QStringList>("files");    // created empty
  QTest::addColumn<QStringList>("folders");  // created empty
  QTest::addColumn<QString>("asked");        // relative to the test folder
  QTest::addColumn<bool>("holds");

  QTest::newRow("empty folder") << QStringList{} << QStringList{} << "." << false;
  QTest::newRow("only a hidden file") << QStringList{".hidden"} << QStringList{} << "." << false;
  QTest::newRow("only a subfolder") << QStringList{} << QStringList{"sub"} << "." << false;
  QTest::newRow("an empty file counts") << QStringList{"setup.exe"} << QStringList{} << "." << true;
  QTest::newRow("hidden and ordinary")
      << QStringList{".hidden", "setup.exe"} << QStringList{"sub"} << "." << true;
  QTest::newRow("file only in a subfolder")
      << QStringList{"sub/setup.exe"} << QStringList{"sub"} << "." << false;
  QTest::newRow("missing folder") << QStringList{} << QStringList{} << "missing" << false;
  QTest::newRow("a file, not a folder")
      << QStringList{"setup.exe"} << QStringList{} << "setup.exe" << false;
}

void LocalFileSystemTest::holdsOrdinaryFile() {
  QFETCH(QStringList, files);
  QFETCH(QStringList, folders);
  QFETCH(QString, asked);
  QFETCH(bool, holds);
  QTemporaryDir dir;
  const fs::path root = dir.path().toStdString();
  for (const QString& folder : folders) {
    fs::create_directories(root / folder.toStdString());
  }
  for (const QString& file : files) {
    WriteFile(root / file.toStdString(), {});
  }

  QCOMPARE(LocalFileSystem().HoldsOrdinaryFile(root / asked.toStdString()), holds);
}

void LocalFileSystemTest::programFolderIsExecutablesNotWorkingFolder() {
  QTemporaryDir elsewhere;
  const QString before = QDir::currentPath();
  QVERIFY(QDir::setCurrent(elsewhere.path()));

  const fs::path folder = LocalFileSystem().ProgramFolder();

  QVERIFY(QDir::setCurrent(before));
  QCOMPARE(QString::fromStdString(folder.string()), QCoreApplication::applicationDirPath());
  QVERIFY(
      fs::exists(folder / QCoreApplication::applicationFilePath().section('/', -1).toStdString()));
}

QTEST_GUILESS_MAIN(LocalFileSystemTest)
#include "FileSystem_test.moc"
