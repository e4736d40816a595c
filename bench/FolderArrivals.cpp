#include "FolderArrivals.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace korvani::bench {

FolderArrivals::FolderArrivals(const std::filesystem::path& folder)
    : notify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (!notify_.IsOpen() || inotify_add_watch(notify_.Get(), folder.c_str(), IN_MOVED_TO) < 0) {
    throw std::runtime_error("cannot watch " + folder.string());
  }
}

bool FolderArrivals::TakeArrival() {
  bool arrived = false;
  alignas(inotify_event) std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t length = ::read(notify_.Get(), buffer.data(), buffer.size());
    if (length <= 0) {
      return arrived;
    }
    for (ssize_t offset = 0; offset < length;) {
      inotify_event event{};
      std::memcpy(&event, buffer.data() + offset, sizeof event);
      const char* name = buffer.data() + offset + sizeof event;
      if ((event.mask & IN_MOVED_TO) != 0 && event.len > 0 && name[0] != '.') {
        arrived = true;
      }
      offset += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
}

}  // namespace korvani::bench
