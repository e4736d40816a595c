#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

namespace korvani::platform {

// A new version of one file, written piece by piece beside it and put in its place
// only on Commit(). Dropping it uncommitted abandons it: the old file stays as it was
// and nothing of the new one is left.
class Replacement {
 public:
  virtual ~Replacement() = default;
  // Adds `bytes` at the end. False when they, or bytes appended before them, could not
  // be written (a full disk, an I/O error); the replacement can then only be abandoned.
  // Bytes may be held back and written with later ones, so a failure can show as late
  // as Commit().
  virtual bool Append(std::span<const std::byte> bytes) = 0;
  // Makes the bytes appended so far durable and puts them in place of the file. False
  // when that failed; the old file is then as it was.
  virtual bool Commit() = 0;
};

// The few file operations the fetch needs.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The folder that holds the running program (not the working directory).
  virtual std::filesystem::path ProgramFolder() const = 0;
  // True when `folder` is a folder that holds at least one ordinary file
  // (not a folder, not hidden).
  virtual bool HoldsOrdinaryFile(const std::filesystem::path& folder) const = 0;
  // Begins a replacement of `destination`, which need not exist yet. Null when no
  // new file can be made beside it (a read-only or missing folder); nothing is
  // changed then.
  virtual std::unique_ptr<Replacement> BeginReplacement(
      const std::filesystem::path& destination) = 0;
};

// The local POSIX file system.
class LocalFileSystem final : public FileSystem {
 public:
  // How a replacement keeps its bytes until it is committed.
  enum class Temporaries {
    // An unnamed file in the destination's folder (O_TMPFILE), which vanishes with the
    // process however it ends; a hidden, named one where the file system refuses that.
    UnnamedWhereSupported,
    // Always the hidden, named file, as on a file system without unnamed files.
    NamedOnly,
  };

  // The program's folder is the folder of /proc/self/exe.
  LocalFileSystem() = default;
  // The program's folder is `programFolder`: a run that saves elsewhere, as the
  // benchmarks and the end-to-end tests do.
  explicit LocalFileSystem(std::filesystem::path programFolder,
                           Temporaries temporaries = Temporaries::UnnamedWhereSupported)
      : programFolder_(std::move(programFolder)), temporaries_(temporaries) {}

  // An empty path when /proc/self/exe cannot be read.
  std::filesystem::path ProgramFolder() const override;
  // Hidden means a name that starts with "."; links are judged by what they point to.
  bool HoldsOrdinaryFile(const std::filesystem::path& folder) const override;
  // The new file gets the permissions any new file of the user gets, where the file
  // system keeps permissions at all. Its data reaches the disk before it is renamed over
  // `destination`, and the rename reaches the disk before Commit() returns.
  std::unique_ptr<Replacement> BeginReplacement(const std::filesystem::path& destination) override;

 private:
  std::optional<std::filesystem::path> programFolder_;
  Temporaries temporaries_ = Temporaries::UnnamedWhereSupported;
};

// For a process about to end by exec or _Exit, which closes its descriptors but leaves
// its named files: removes the hidden, named file of every replacement still being
// written, and keeps any new one from being made or committed from then on. Safe on any
// thread, also while another one writes a replacement; allocates nothing. Returns only
// to let the process end, and says whether the replacement begun last was put in place: a
// process that has published its file must not start over and publish another.
bool AbandonUnfinishedFiles();

}  // namespace korvani::platform
