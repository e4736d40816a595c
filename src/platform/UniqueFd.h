#pragma once

#include <unistd.h>

#include <utility>

namespace korvani::platform {

// An open file descriptor, closed on every path.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~UniqueFd() { Reset(); }

  bool IsOpen() const { return fd_ >= 0; }
  int Get() const { return fd_; }

  // Closes now and reports whether the close succeeded: for a written file, a failed
  // close can be the first sign that the data did not reach the disk. Not retried on
  // EINTR, because Linux has released the descriptor by then.
  bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  void Reset() {
    if (fd_ >= 0) {
      ::close(std::exchange(fd_, -1));
    }
  }

  int fd_ = -1;
};

}  // namespace korvani::platform
