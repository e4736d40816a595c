// Loaded into the program with LD_PRELOAD by ProgramConfinement_test, and so into both of
// its processes. It acts twice, as code that took a process over would:
//
// At the first TCP connect, which is the fetcher's, when the package host's bytes are
// about to arrive:
//   read         the file $KORVANI_PROBE_SECRET (a private key in HOME, say);
//   create       a new file in the program's folder;
//   unix         connect to the Unix socket $KORVANI_PROBE_UNIX (as to the X server or
//                the session bus);
//   run          /bin/true;
//   interpreter  /bin/true through the ELF interpreter;
//   connect      127.0.0.1:$KORVANI_PROBE_PORT, which is not the package host's.
// When the package is given its name (the first rename), in the window's process:
//   window-connect  127.0.0.1:$KORVANI_PROBE_PORT.
//
// Each outcome is 0, or the errno that refused it. The fetcher may write nowhere, so its
// outcomes go into a page it shares with the window's process (mapped before the fork);
// the window's process writes them all into "escape-report" in the program's folder:
// "read 13\ncreate 13\n...".
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/UniqueFd.h"
#include "support/EscapeAttempts.h"

using korvani::platform::UniqueFd;
using korvani::support::ConnectCall;
using korvani::support::ConnectToLoopback;
using korvani::support::CreateNew;
using korvani::support::ErrorOf;
using korvani::support::Run;

namespace {

constexpr std::size_t kPageBytes = 4096;
// The fetcher's report: written by the fetcher, read by the window's process.
char* gShared = nullptr;

__attribute__((constructor)) void MapSharedPage() {
  void* page =
      ::mmap(nullptr, kPageBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  gShared = page == MAP_FAILED ? nullptr : static_cast<char*>(page);
}

bool IsTcp(int fd, const sockaddr* address) {
  int type = 0;
  socklen_t length = sizeof type;
  return address != nullptr && (address->sa_family == AF_INET || address->sa_family == AF_INET6) &&
         ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

std::filesystem::path ProgramFolder() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

const char* Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

int ReadSecret() {
  const UniqueFd file(::open(Variable("KORVANI_PROBE_SECRET"), O_RDONLY | O_CLOEXEC));
  return ErrorOf(file.IsOpen());
}

int ConnectToUnixSocket(ConnectCall connectCall) {
  const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.IsOpen()) {
    return errno;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, Variable("KORVANI_PROBE_UNIX"), sizeof address.sun_path - 1);
  return ErrorOf(
      connectCall(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
}

int ConnectElsewhere(ConnectCall connectCall) {
  return ConnectToLoopback(static_cast<std::uint16_t>(std::atoi(Variable("KORVANI_PROBE_PORT"))),
                           connectCall);
}

// The ELF interpreter of /bin/true, as the kernel would load it.
std::string Interpreter() {
  const char* candidates[] = {"/lib64/ld-linux-x86-64.so.2", "/lib/ld-linux-aarch64.so.1",
                              "/lib/ld-linux.so.2"};
  for (const char* candidate : candidates) {
    if (::access(candidate, F_OK) == 0) {
      return candidate;
    }
  }
  return "/lib64/ld-linux-x86-64.so.2";
}

std::string Line(const char* name, int outcome) {
  return std::string(name) + " " + std::to_string(outcome) + "\n";
}

void TryToEscapeFromTheFetcher(ConnectCall connectCall) {
  const std::string planted = (ProgramFolder() / "planted").string();
  const std::string interpreter = Interpreter();
  const std::string report =
      Line("read", ReadSecret()) + Line("create", CreateNew(planted.c_str())) +
      Line("unix", ConnectToUnixSocket(connectCall)) + Line("run", Run("/bin/true")) +
      Line("interpreter", Run(interpreter.c_str(), "/bin/true")) +
      Line("connect", ConnectElsewhere(connectCall));
  if (gShared != nullptr) {
    report.copy(gShared, kPageBytes - 1);
  }
}

void TryToEscapeFromTheWindow() {
  static const auto next = reinterpret_cast<ConnectCall>(::dlsym(RTLD_NEXT, "connect"));
  const std::string report = std::string(gShared != nullptr ? gShared : "") +
                             Line("window-connect", ConnectElsewhere(next));
  const UniqueFd file(::open((ProgramFolder() / "escape-report").c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
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
    TryToEscapeFromTheFetcher(next);
    errno = saved;
  }
  return next(fd, address, length);
}

extern "C" int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  using RenameCall = int (*)(int, const char*, int, const char*);
  static const auto next = reinterpret_cast<RenameCall>(::dlsym(RTLD_NEXT, "renameat"));
  static std::atomic<bool> tried{false};
  if (!tried.exchange(true)) {
    const int saved = errno;
    TryToEscapeFromTheWindow();
    errno = saved;
  }
  return next(fromFolder, from, toFolder, to);
}
