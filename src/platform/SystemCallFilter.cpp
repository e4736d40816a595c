#include "platform/SystemCallFilter.h"

#include <sched.h>
#include <seccomp.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <string_view>

namespace korvani::platform {
namespace {

struct FilterReleaser {
  void operator()(scmp_filter_ctx filter) const { seccomp_release(filter); }
};
using Filter = std::unique_ptr<void, FilterReleaser>;

// Names, not numbers: libseccomp resolves each for the running architecture and leaves
// out what that architecture does not have.
constexpr const char* kNeverNeeded[] = {
    // Tracing and reading or writing other processes.
    "ptrace", "process_vm_readv", "process_vm_writev",
    // Mounts and namespaces.
    "mount", "umount2", "pivot_root", "chroot", "unshare", "setns", "fsopen", "fsmount", "fsconfig",
    "fspick", "open_tree", "move_mount", "mount_setattr",
    // Kernel attack surface no part of the program uses.
    "bpf", "io_uring_setup", "io_uring_enter", "io_uring_register", "userfaultfd", "add_key",
    "request_key", "keyctl", "perf_event_open", "kexec_load", "kexec_file_load", "init_module",
    "finit_module", "delete_module"};

// New namespaces of every kind, as unshare would make them.
constexpr scmp_datum_t kNamespaceFlags[] = {CLONE_NEWNS,    CLONE_NEWUTS, CLONE_NEWIPC,
                                            CLONE_NEWUSER,  CLONE_NEWPID, CLONE_NEWNET,
                                            CLONE_NEWCGROUP};

constexpr const char* kRunning[] = {"execve", "execveat"};

// LeakSanitizer stops the process's threads with ptrace to look for leaks at exit.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kTracesItself = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kTracesItself = true;
#else
constexpr bool kTracesItself = false;
#endif
#else
constexpr bool kTracesItself = false;
#endif

bool Refuse(scmp_filter_ctx filter, const char* name, int error = EPERM) {
  const int number = seccomp_syscall_resolve_name(name);
  if (number == __NR_SCMP_ERROR) {
    return true;  // not a call of this architecture
  }
  return seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), number, 0) == 0;
}

// New sockets of `family` that can reach something: socketpair's pairs are connected to
// each other alone, and libcurl's threaded resolver wakes its caller through one.
bool RefuseSocketFamily(scmp_filter_ctx filter, int family) {
  return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(socket), 1,
                          SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(family))) == 0;
}

}  // namespace

bool RefuseSystemCalls(SystemCallPolicy policy) {
  const Filter filter(seccomp_init(SCMP_ACT_ALLOW));
  if (!filter) {
    return false;
  }
  bool ok = true;
  for (const char* name : kNeverNeeded) {
    if (kTracesItself && std::string_view(name) == "ptrace") {
      continue;
    }
    ok = ok && Refuse(filter.get(), name);
  }
  // clone3 hands its flags in memory, which a filter cannot read: glibc falls back to clone
  // when the kernel says it has no clone3, and clone's flags are in a register.
  ok = ok && Refuse(filter.get(), "clone3", ENOSYS);
  for (const scmp_datum_t flag : kNamespaceFlags) {
    ok = ok && seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                                SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
  }
  ok = ok && RefuseSocketFamily(filter.get(), AF_NETLINK);
  if (policy == SystemCallPolicy::Fetcher) {
    for (const char* name : kRunning) {
      ok = ok && Refuse(filter.get(), name);
    }
    ok = ok && RefuseSocketFamily(filter.get(), AF_UNIX);
  }
  return ok && seccomp_load(filter.get()) == 0;
}

}  // namespace korvani::platform
