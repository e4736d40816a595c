#pragma once

namespace korvani::platform {

// Which of the program's two processes a filter is for.
enum class SystemCallPolicy {
  // The fetcher: runs nothing and reaches no local service.
  Fetcher,
  // The window's process: as the fetcher, but it restarts itself after display loss and
  // talks to the X server, the session bus, AT-SPI and the sound server over Unix sockets.
  Window,
};

// Refuses, for good and in every thread started later, the system calls the process never
// needs, which code that took it over would reach for first: running programs (the
// fetcher), Unix sockets that can connect anywhere (the fetcher; a connected pair from
// socketpair stays allowed) and netlink sockets, tracing and reading other
// processes, mounts and namespaces, BPF, io_uring, userfaultfd, the kernel's key store,
// perf events, kexec and kernel modules. A refused call fails with EPERM (ENOSYS for
// clone3, which makes glibc fall back to clone, whose namespace flags are refused), and
// never ends the process, so a library that probes an optional feature goes on without it.
// Sets no_new_privs. False when the filter could not be loaded; nothing is refused then.
bool RefuseSystemCalls(SystemCallPolicy policy);

}  // namespace korvani::platform
