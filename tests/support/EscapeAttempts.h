#pragma once

// What code that took the program over would try, each call reporting 0 when it
// succeeded and the errno that refused it otherwise. Shared by the confinement's seam
// test and the probe loaded into the whole program, which links nothing but libc.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/UniqueFd.h"

namespace korvani::support {

inline int ErrorOf(bool succeeded) {
  return succeeded ? 0 : errno;
}

// Creates the file `path`, which must not exist yet.
inline int CreateNew(const char* path) {
  const platform::UniqueFd file(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  return ErrorOf(file.IsOpen());
}

// Runs `program` (with `argument`, if any) to its end; ECHILD when it ran but did not end
// with 0. Through the ELF interpreter: Run(interpreter, "/bin/true").
inline int Run(const char* program, const char* argument = nullptr) {
  char* const arguments[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
  pid_t child = -1;
  const int error = ::posix_spawn(&child, program, nullptr, nullptr, arguments, environ);
  if (error != 0) {
    return error;
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : ECHILD;
}

using ConnectCall = int (*)(int, const sockaddr*, socklen_t);

// A TCP connect to 127.0.0.1:`port`, through `connectCall` (the probe hands in libc's
// own, past its wrapper).
inline int ConnectToLoopback(std::uint16_t port, ConnectCall connectCall = ::connect) {
  const platform::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ErrorOf(
      connectCall(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
}

}  // namespace korvani::support
