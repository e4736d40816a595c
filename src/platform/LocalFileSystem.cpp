#include "platform/LocalFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/UniqueFd.h"

namespace korvani::platform {
namespace {

// ".<name>.XXXXXX": hidden, so that a half-written package never looks like one, and
// named after the destination so that a leftover (after a power cut) says what it was.
// A long name is shortened so that the temporary name still fits into NAME_MAX.
std::string TemporaryTemplate(const std::filesystem::path& folder, const std::string& name) {
  constexpr std::size_t kAddedBytes = 1 + 7;  // "." and ".XXXXXX"
  const std::string stem = name.substr(0, NAME_MAX - kAddedBytes);
  return (folder / ("." + stem + ".XXXXXX")).string();
}

// umask() can report the mask only by replacing it for a moment, which another thread
// creating a file could notice; Linux also shows it in /proc.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("Umask:")) {
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// Removes the temporary file on every path that does not hand it over by renaming it.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!renamed_) {
      ::unlink(path_.c_str());
    }
  }

  bool RenameTo(const std::filesystem::path& destination) {
    renamed_ = ::rename(path_.c_str(), destination.c_str()) == 0;
    return renamed_;
  }

 private:
  std::string path_;
  bool renamed_ = false;
};

bool WriteAll(int fd, std::span<const std::byte> body) {
  while (!body.empty()) {
    const ssize_t written = ::write(fd, body.data(), body.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (written == 0) {
      return false;  // no progress and no error: never loop on it
    }
    body = body.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

// Makes the rename itself survive a crash. The new file is complete by then, so a
// failure here does not undo the replacement.
void SyncFolder(const std::filesystem::path& folder) {
  const UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.IsOpen()) {
    ::fsync(directory.Get());
  }
}

}  // namespace

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

bool LocalFileSystem::ReplaceFile(const std::filesystem::path& destination,
                                  std::span<const std::byte> body) {
  const std::string name = destination.filename().string();
  if (name.empty()) {
    return false;
  }
  std::filesystem::path folder = destination.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  std::string path = TemporaryTemplate(folder, name);
  // Close-on-exec: a program started meanwhile must not inherit the half-written file.
  UniqueFd file(::mkostemp(path.data(), O_CLOEXEC));
  if (!file.IsOpen()) {
    return false;
  }
  TemporaryFile temporary(path);
  // mkstemp creates the file private (0600); a downloaded file gets the permissions
  // any new file of the user gets.
  if (::fchmod(file.Get(), 0666 & ~CurrentUmask()) != 0) {
    return false;
  }
  if (!WriteAll(file.Get(), body) || ::fsync(file.Get()) != 0 || !file.Close()) {
    return false;
  }
  if (!temporary.RenameTo(destination)) {
    return false;
  }
  SyncFolder(folder);
  return true;
}

}  // namespace korvani::platform
