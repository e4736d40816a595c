#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/UniqueFd.h"

namespace korvani::platform {
namespace {

// The fetch hands over a read's worth at a time (8 KB); the page cache takes larger
// writes at a fraction of the system calls' cost. A fixed size: memory stays flat.
constexpr std::size_t kWriteSize = std::size_t{128} << 10U;
// Write-back of what has arrived is started every few MiB, so that the sync before the
// rename finds little left to write, without waiting on the disk during the transfer.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{4} << 20U;
// Permissions asked for; the umask takes off what the user does not give new files.
constexpr mode_t kNewFileMode = 0666;

// Gives a fresh hidden name beside `name` to `tryName` until it answers anything but
// EEXIST; returns that name, or nothing when no name was taken. The name is
// ".<name>.XXXXXX", so that a leftover (after a power cut) never looks like a package and
// says what it was; a long name is shortened so that it still fits into NAME_MAX.
std::optional<std::string> TakeHiddenName(const std::string& name,
                                          const std::function<int(const std::string&)>& tryName) {
  constexpr std::size_t kAddedBytes = 1 + 7;  // "." and ".XXXXXX"
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr int kAttempts = 100;
  std::string stem = ".";
  stem.append(name, 0, NAME_MAX - kAddedBytes).append(".");
  std::random_device seed;
  std::minstd_rand letters(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string candidate = stem;
    for (int i = 0; i < 6; ++i) {
      candidate += kLetters[pick(letters)];
    }
    const int error = tryName(candidate);
    if (error == 0) {
      return candidate;
    }
    if (error != EEXIST) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

int ErrnoOf(int result) {
  return result == 0 ? 0 : errno;
}

bool WriteAll(int fd, std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (written == 0) {
      return false;  // no progress and no error: never loop on it
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

class LocalReplacement;

// The replacements that have a named file not yet committed, for AbandonUnfinishedFiles.
// The lock spans each name's creation and its rename, so that a name is never made or
// renamed unseen by it.
std::mutex gUnfinishedLock;
LocalReplacement* gUnfinished = nullptr;  // a list, through nextUnfinished_
// Whether the replacement begun last has been put in place: set with its rename, under
// the same lock.
bool gCommitted = false;

class LocalReplacement final : public Replacement {
 public:
  LocalReplacement(UniqueFd folder, UniqueFd file, std::string name, std::string temporaryName)
      : folder_(std::move(folder)),
        file_(std::move(file)),
        name_(std::move(name)),
        temporaryName_(std::move(temporaryName)) {
    pending_.reserve(kWriteSize);
  }
  LocalReplacement(const LocalReplacement&) = delete;
  LocalReplacement& operator=(const LocalReplacement&) = delete;
  // An unnamed file goes with its descriptor; a named one is removed here.
  ~LocalReplacement() override {
    if (!committed_ && !temporaryName_.empty()) {
      const std::lock_guard guard(gUnfinishedLock);
      RemoveNamedFile();
      Unlist();
    }
  }

  // With gUnfinishedLock held, once the file has a name.
  void List() {
    nextUnfinished_ = gUnfinished;
    gUnfinished = this;
  }
  void Unlist() {
    for (LocalReplacement** entry = &gUnfinished; *entry != nullptr;
         entry = &(*entry)->nextUnfinished_) {
      if (*entry == this) {
        *entry = nextUnfinished_;
        return;
      }
    }
  }
  void RemoveNamedFile() const { ::unlinkat(folder_.Get(), temporaryName_.c_str(), 0); }
  LocalReplacement* NextUnfinished() const { return nextUnfinished_; }

  bool Append(std::span<const std::byte> bytes) override {
    if (failed_) {
      return false;
    }
    if (pending_.size() + bytes.size() > kWriteSize && !WritePending()) {
      return false;
    }
    if (bytes.size() >= kWriteSize) {
      return Write(bytes);
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    return true;
  }

  bool Commit() override {
    if (failed_ || committed_ || !WritePending() || ::fsync(file_.Get()) != 0) {
      return false;
    }
    {
      const std::lock_guard guard(gUnfinishedLock);
      if (temporaryName_.empty() && !LinkUnnamedFile()) {
        return false;
      }
      // For a written file, a failed close can be the first sign that the data did not
      // reach the disk.
      if (!file_.Close() ||
          ::renameat(folder_.Get(), temporaryName_.c_str(), folder_.Get(), name_.c_str()) != 0) {
        return false;
      }
      committed_ = true;
      gCommitted = true;
      Unlist();
    }
    // Makes the rename itself survive a crash. The new file is complete by then, so a
    // failure here does not undo the replacement.
    ::fsync(folder_.Get());
    return true;
  }

 private:
  bool WritePending() {
    const bool written = Write(pending_);
    pending_.clear();
    return written;
  }

  bool Write(std::span<const std::byte> bytes) {
    if (!WriteAll(file_.Get(), bytes)) {
      failed_ = true;
      return false;
    }
    written_ += bytes.size();
    if (written_ - writtenBack_ >= kWriteBackStep) {
      // Only a hint: a file system without it still gets its data synced on Commit().
      ::sync_file_range(file_.Get(), static_cast<off64_t>(writtenBack_),
                        static_cast<off64_t>(written_ - writtenBack_), SYNC_FILE_RANGE_WRITE);
      writtenBack_ = written_;
    }
    return true;
  }

  // Gives the unnamed file a hidden name, from which it is renamed over the destination:
  // linkat cannot replace an existing name. Through /proc, because linking a descriptor
  // directly (AT_EMPTY_PATH) needs a privilege on older kernels.
  bool LinkUnnamedFile() {
    const std::string byProc = "/proc/self/fd/" + std::to_string(file_.Get());
    const std::optional<std::string> linked =
        TakeHiddenName(name_, [this, &byProc](const std::string& candidate) {
          int error = ErrnoOf(::linkat(AT_FDCWD, byProc.c_str(), folder_.Get(), candidate.c_str(),
                                       AT_SYMLINK_FOLLOW));
          if (error == ENOENT) {  // no /proc
            error =
                ErrnoOf(::linkat(file_.Get(), "", folder_.Get(), candidate.c_str(), AT_EMPTY_PATH));
          }
          return error;
        });
    if (!linked) {
      return false;
    }
    temporaryName_ = *linked;
    List();
    return true;
  }

  UniqueFd folder_;
  UniqueFd file_;
  std::string name_;
  std::string temporaryName_;       // empty while the file has no name
  std::vector<std::byte> pending_;  // appended, not yet written
  std::uint64_t written_ = 0;
  std::uint64_t writtenBack_ = 0;
  bool failed_ = false;
  bool committed_ = false;
  LocalReplacement* nextUnfinished_ = nullptr;
};

}  // namespace

bool AbandonUnfinishedFiles() {
  // Never unlocked: the process ends with the lock held.
  gUnfinishedLock.lock();
  for (const LocalReplacement* unfinished = gUnfinished; unfinished != nullptr;
       unfinished = unfinished->NextUnfinished()) {
    unfinished->RemoveNamedFile();
  }
  return gCommitted;
}

std::filesystem::path LocalFileSystem::ProgramFolder() const {
  if (programFolder_) {
    return *programFolder_;
  }
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return {};
  }
  return program.parent_path();
}

bool LocalFileSystem::HoldsOrdinaryFile(const std::filesystem::path& folder) const {
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    if (entry->path().filename().string().starts_with('.')) {
      continue;
    }
    std::error_code typeError;
    if (entry->is_regular_file(typeError)) {
      return true;
    }
  }
  return false;
}

std::unique_ptr<Replacement> LocalFileSystem::BeginReplacement(
    const std::filesystem::path& destination) {
  const std::string name = destination.filename().string();
  if (name.empty()) {
    return nullptr;
  }
  {
    const std::lock_guard guard(gUnfinishedLock);
    gCommitted = false;
  }
  std::filesystem::path folderPath = destination.parent_path();
  if (folderPath.empty()) {
    folderPath = ".";
  }
  // Close-on-exec throughout: a program started meanwhile must not inherit the
  // half-written file.
  UniqueFd folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.IsOpen()) {
    return nullptr;
  }
  if (temporaries_ == Temporaries::UnnamedWhereSupported) {
    UniqueFd unnamed(::openat(folder.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode));
    if (unnamed.IsOpen()) {
      return std::make_unique<LocalReplacement>(std::move(folder), std::move(unnamed), name,
                                                std::string());
    }
    // FAT, many FUSE file systems and older kernels refuse; a named file still serves.
  }
  const std::lock_guard guard(gUnfinishedLock);
  UniqueFd named;
  const std::optional<std::string> temporaryName =
      TakeHiddenName(name, [&folder, &named](const std::string& candidate) {
        const int fd = ::openat(folder.Get(), candidate.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd < 0) {
          return errno;
        }
        named = UniqueFd(fd);
        return 0;
      });
  if (!temporaryName) {
    return nullptr;
  }
  auto replacement =
      std::make_unique<LocalReplacement>(std::move(folder), std::move(named), name, *temporaryName);
  replacement->List();
  return replacement;
}

}  // namespace korvani::platform
