// Loaded into the program with LD_PRELOAD by ProgramConfinement_test. At the program's
// first TCP connect, when the package host's bytes are about to arrive, it tries what
// code that took the program over would:
//   create  the file $KORVANI_PROBE_OUTSIDE, outside the program's folder;
//   run     /bin/true;
//   connect to 127.0.0.1:$KORVANI_PROBE_PORT, which is not the package host's.
// Each outcome (0, or the errno that refused it) goes into "escape-report" in the
// program's folder, the one place the program may write: "create 13\nrun 13\n...".
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/UniqueFd.h"
#include "support/EscapeAttempts.h"

using korvani::platform::UniqueFd;
using korvani::support::ConnectCall;
using korvani::support::ConnectToLoopback;
using korvani::support::CreateNew;
using korvani::support::Run;

namespace {

bool IsTcp(int fd, const sockaddr* address) {
  int type = 0;
  socklen_t length = sizeof type;
  return address != nullptr && (address->sa_family == AF_INET || address->sa_family == AF_INET6) &&
         ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

int Create() {
  const char* path = std::getenv("KORVANI_PROBE_OUTSIDE");
  return path != nullptr ? CreateNew(path) : ENOENT;
}

int ConnectElsewhere(ConnectCall connectCall) {
  const char* port = std::getenv("KORVANI_PROBE_PORT");
  return ConnectToLoopback(static_cast<std::uint16_t>(port != nullptr ? std::atoi(port) : 0),
                           connectCall);
}

void TryToEscape(ConnectCall connectCall) {
  const std::string report = "create " + std::to_string(Create()) + "\nrun " +
                             std::to_string(Run("/bin/true")) + "\nconnect " +
                             std::to_string(ConnectElsewhere(connectCall)) + "\n";
  std::error_code error;
  const auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  const UniqueFd file(
      ::open((folder / "escape-report").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (file.IsOpen()) {
    [[maybe_unused]] const ssize_t written = ::write(file.Get(), report.data(), report.size());
  }
}

}  // namespace

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  static const auto next = reinterpret_cast<ConnectCall>(::dlsym(RTLD_NEXT, "connect"));
  static std::atomic<bool> tried{false};
  if (IsTcp(fd, address) && !tried.exchange(true)) {
    const int saved = errno;
    TryToEscape(next);
    errno = saved;
  }
  return next(fd, address, length);
}
