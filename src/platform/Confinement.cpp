#include "platform/Confinement.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <system_error>

#include "platform/UniqueFd.h"

#ifndef KORVANI_CONFINE
#error "KORVANI_CONFINE must be 1 or 0: the build switch (cmake -DKORVANI_CONFINE=ON|OFF)"
#endif

// What Landlock offers after ABI 2, which Debian 12's <linux/landlock.h> ends with. The
// values are the kernel's stable UAPI.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)  // ABI 3
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)  // ABI 5
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)  // ABI 4
#endif
#ifndef LANDLOCK_ACCESS_NET_CONNECT_TCP
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)  // ABI 4
#endif
#ifndef LANDLOCK_SCOPE_SIGNAL
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)  // ABI 6
#endif

namespace korvani::platform {
namespace {

// struct landlock_ruleset_attr as ABI 6 has it. The kernel reads as much of it as the
// size passed says, so an older kernel is handed only the fields it knows.
struct RulesetAttr {
  std::uint64_t handledAccessFs = 0;
  std::uint64_t handledAccessNet = 0;  // ABI 4
  std::uint64_t scoped = 0;            // ABI 6
};
// struct landlock_net_port_attr (ABI 4), added with LANDLOCK_RULE_NET_PORT.
struct NetPortAttr {
  std::uint64_t allowedAccess = 0;
  std::uint64_t port = 0;
};
constexpr int kRuleNetPort = 2;

constexpr std::uint64_t kFsRightsAbi1 =
    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
    LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR |
    LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
    LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;

// Every right that writes, makes, removes or runs, as far as `abi` knows it. Reading
// files and folders is left alone: Qt, fonts, certificates and ALSA read where they like.
std::uint64_t HandledFsRights(int abi) {
  std::uint64_t rights = kFsRightsAbi1;
  if (abi >= 2) {
    // Moving or linking a file into another folder: refused everywhere unless handled,
    // and handled only to be granted beneath the program's folder.
    rights |= LANDLOCK_ACCESS_FS_REFER;
  }
  if (abi >= 3) {
    rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
  }
  if (abi >= 5) {
    rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
  }
  return rights;
}

// Makes and replaces the package and its temporary: an unnamed file linked in, or a
// hidden one, renamed over the package. No folders, symbolic links, FIFOs or sockets.
constexpr std::uint64_t kFolderRights = LANDLOCK_ACCESS_FS_WRITE_FILE |
                                        LANDLOCK_ACCESS_FS_TRUNCATE | LANDLOCK_ACCESS_FS_MAKE_REG |
                                        LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_REFER;
// ALSA opens its devices read-write and drives them with ioctl.
constexpr std::uint64_t kDeviceRights =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_IOCTL_DEV;
constexpr std::uint64_t kFileRights = LANDLOCK_ACCESS_FS_WRITE_FILE;
constexpr std::uint64_t kRuntimeRights = LANDLOCK_ACCESS_FS_MAKE_DIR;
constexpr std::uint64_t kExecuteRights = LANDLOCK_ACCESS_FS_EXECUTE;

// Ports for what each scheme's URL and its redirects use without naming a port. A
// redirect from HTTP may lead to HTTPS; one from HTTPS stays on it.
constexpr std::uint16_t kHttpPort = 80;
constexpr std::uint16_t kHttpsPort = 443;
constexpr std::uint16_t kDnsPort = 53;
constexpr unsigned kFirstXPort = 6000;
constexpr std::string_view kSoundDevices = "/dev/snd";
constexpr std::string_view kNullDevice = "/dev/null";

std::optional<std::uint16_t> ParsePort(std::string_view digits, unsigned offset = 0) {
  unsigned number = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, number);
  if (digits.empty() || error != std::errc() || stop != end || number + offset == 0 ||
      number > 65535 - offset) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(number + offset);
}

// The port after the host, "host:port"; nothing for a host alone.
std::optional<std::uint16_t> PortOfHost(std::string_view hostAndPort) {
  const auto colon = hostAndPort.find(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  return ParsePort(hostAndPort.substr(colon + 1));
}

// The TCP port of the X display `display` names, as Xlib and xcb read it:
// "[protocol/]host:number[.screen]". ":0", "unix:0" and "unix/host:0" are local
// sockets, "host::0" is DECnet; a host otherwise means TCP on 6000 plus the number.
std::optional<std::uint16_t> XDisplayPort(std::string_view display) {
  const auto colon = display.rfind(':');
  if (colon == std::string_view::npos || colon == 0) {
    return std::nullopt;
  }
  std::string_view host = display.substr(0, colon);
  if (host.back() == ':') {
    return std::nullopt;
  }
  if (const auto slash = host.find('/'); slash != std::string_view::npos) {
    if (host.substr(0, slash) == "unix") {
      return std::nullopt;
    }
    host = host.substr(slash + 1);
  }
  if (host.empty() || host == "unix") {
    return std::nullopt;
  }
  std::string_view number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  return ParsePort(number, kFirstXPort);
}

// $XDG_RUNTIME_DIR as the XDG base directory rules have it: an absolute path to a folder
// of the user's own that no one else may enter. Empty otherwise.
std::filesystem::path PrivateRuntimeFolder() {
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  struct stat status {};
  if (folder == nullptr || folder[0] != '/' || ::stat(folder, &status) != 0 ||
      !S_ISDIR(status.st_mode) || status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
    return {};
  }
  return folder;
}

long CreateRuleset(const RulesetAttr* attr, std::size_t size, std::uint32_t flags) {
  return ::syscall(SYS_landlock_create_ruleset, attr, size, flags);
}

// The size of the part of RulesetAttr that `abi` reads.
std::size_t RulesetAttrSize(int abi) {
  if (abi >= 6) {
    return sizeof(RulesetAttr);
  }
  if (abi >= 4) {
    return offsetof(RulesetAttr, scoped);
  }
  return offsetof(RulesetAttr, handledAccessNet);
}

// Adds a rule for the file or folder at `path`; a path that does not exist, or a rule
// the kernel refuses, is left out, which only ever refuses more.
void AllowBeneath(int ruleset, const std::filesystem::path& path, std::uint64_t rights) {
  if (rights == 0) {
    return;
  }
  const UniqueFd target(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!target.IsOpen()) {
    return;
  }
  const landlock_path_beneath_attr rule{.allowed_access = rights,
                                        .parent_fd = static_cast<std::int32_t>(target.Get())};
  ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
}

}  // namespace

ConfinementRules RulesFor(const ConfinementInputs& inputs) {
  ConfinementRules rules;
  rules.writableFolder = inputs.programFile.parent_path();
  rules.runtimeFolder = inputs.runtimeFolder;
  rules.deviceFolders = {std::filesystem::path(kSoundDevices)};
  rules.writableFiles = {std::filesystem::path(kNullDevice)};
  rules.executables = {inputs.programFile};
  if (!inputs.interpreter.empty()) {
    rules.executables.push_back(inputs.interpreter);
  }
  auto& ports = rules.connectPorts;
  ports = {kDnsPort, kHttpsPort};
  if (inputs.scheme != "https") {
    ports.push_back(kHttpPort);
  }
  for (const auto port : {PortOfHost(inputs.packageHost), XDisplayPort(inputs.display)}) {
    if (port) {
      ports.push_back(*port);
    }
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return rules;
}

std::filesystem::path InterpreterOf(const std::filesystem::path& program) {
  const UniqueFd file(::open(program.c_str(), O_RDONLY | O_CLOEXEC));
  ElfW(Ehdr) header{};
  if (!file.IsOpen() || ::pread(file.Get(), &header, sizeof header, 0) != sizeof header ||
      std::string_view(reinterpret_cast<const char*>(header.e_ident), SELFMAG) != ELFMAG ||
      header.e_phentsize != sizeof(ElfW(Phdr))) {
    return {};
  }
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment{};
    const auto at = static_cast<off_t>(header.e_phoff + i * sizeof segment);
    if (::pread(file.Get(), &segment, sizeof segment, at) != sizeof segment) {
      return {};
    }
    if (segment.p_type != PT_INTERP) {
      continue;
    }
    if (segment.p_filesz == 0 || segment.p_filesz > PATH_MAX) {
      return {};
    }
    std::string path(segment.p_filesz, '\0');
    const auto read =
        ::pread(file.Get(), path.data(), path.size(), static_cast<off_t>(segment.p_offset));
    if (read != static_cast<ssize_t>(path.size())) {
      return {};
    }
    path.resize(path.find('\0'));  // the name ends with its NUL
    return path;
  }
  return {};
}

int LandlockAbi() {
  const long abi = CreateRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

std::optional<int> Confine(const ConfinementRules& rules) {
  const int abi = LandlockAbi();
  if (abi == 0) {
    return std::nullopt;
  }
  RulesetAttr attr{.handledAccessFs = HandledFsRights(abi)};
  if (abi >= 4) {
    // Binding is refused outright: the program serves nothing.
    attr.handledAccessNet = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
  }
  if (abi >= 6) {
    // No signal to a process outside the confinement: the program sends none, and code
    // that took it over cannot stop or kill the user's other programs. Abstract Unix
    // sockets stay reachable, because the X server listens on one.
    attr.scoped = LANDLOCK_SCOPE_SIGNAL;
  }
  const UniqueFd ruleset(static_cast<int>(CreateRuleset(&attr, RulesetAttrSize(abi), 0)));
  if (!ruleset.IsOpen()) {
    return std::nullopt;
  }
  const auto allow = [&](const std::filesystem::path& path, std::uint64_t rights) {
    AllowBeneath(ruleset.Get(), path, rights & attr.handledAccessFs);
  };
  allow(rules.writableFolder, kFolderRights);
  if (!rules.runtimeFolder.empty()) {
    allow(rules.runtimeFolder, kRuntimeRights);
  }
  for (const auto& folder : rules.deviceFolders) {
    allow(folder, kDeviceRights);
  }
  for (const auto& file : rules.writableFiles) {
    allow(file, kFileRights);
  }
  for (const auto& program : rules.executables) {
    allow(program, kExecuteRights);
  }
  if (abi >= 4) {
    for (const std::uint16_t port : rules.connectPorts) {
      const NetPortAttr rule{.allowedAccess = LANDLOCK_ACCESS_NET_CONNECT_TCP, .port = port};
      ::syscall(SYS_landlock_add_rule, ruleset.Get(), kRuleNetPort, &rule, 0);
    }
  }
  // Landlock takes effect only for a process that can gain no privileges by execve.
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::syscall(SYS_landlock_restrict_self, ruleset.Get(), 0) != 0) {
    return std::nullopt;
  }
  return abi;
}

void ConfineToOwnFolder(std::string_view scheme, const std::string& packageHost) {
  if constexpr (KORVANI_CONFINE == 0) {
    return;
  }
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return;  // no /proc: nothing to name the program's folder by, so no rules to make
  }
  const char* display = std::getenv("DISPLAY");
  Confine(RulesFor({.programFile = program,
                    .interpreter = InterpreterOf(program),
                    .scheme = scheme,
                    .packageHost = packageHost,
                    .display = display != nullptr ? display : "",
                    .runtimeFolder = PrivateRuntimeFolder()}));
}

}  // namespace korvani::platform
