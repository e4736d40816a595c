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

#include "platform/SystemCallFilter.h"
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

constexpr std::uint64_t kReadRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;

// Every right that writes, makes, removes or runs, as far as `abi` knows it, and reading
// where the rules confine it. Moving or linking a file into another folder
// (LANDLOCK_ACCESS_FS_REFER, ABI 2) is not handled, and so refused everywhere from ABI 2
// on: the package's temporary is renamed within the one folder, which needs no such right.
std::uint64_t HandledFsRights(int abi, bool confinesReading) {
  std::uint64_t rights = kFsRightsAbi1;
  if (confinesReading) {
    rights |= kReadRights;
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
                                        LANDLOCK_ACCESS_FS_REMOVE_FILE;
// ALSA opens its devices read-write and drives them with ioctl.
constexpr std::uint64_t kDeviceRights =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_IOCTL_DEV;
constexpr std::uint64_t kFileRights = LANDLOCK_ACCESS_FS_WRITE_FILE;
constexpr std::uint64_t kRuntimeRights = LANDLOCK_ACCESS_FS_MAKE_DIR;
constexpr std::uint64_t kExecuteRights = LANDLOCK_ACCESS_FS_EXECUTE;
// What Landlock lets a rule on a file (not a folder) grant.
constexpr std::uint64_t kFileOnlyRights =
    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
    LANDLOCK_ACCESS_FS_TRUNCATE | LANDLOCK_ACCESS_FS_IOCTL_DEV;

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

// Adds a rule for the file or folder at `path`, with the rights a rule on what it is
// (file or folder) may grant. False when it does not exist or the kernel refuses the rule;
// a rule left out only ever refuses more.
bool AllowBeneath(int ruleset, const std::filesystem::path& path, std::uint64_t rights) {
  const UniqueFd target(::open(path.c_str(), O_PATH | O_CLOEXEC));
  struct stat status {};
  if (!target.IsOpen() || ::fstat(target.Get(), &status) != 0) {
    return false;
  }
  if (!S_ISDIR(status.st_mode)) {
    rights &= kFileOnlyRights;
  }
  if (rights == 0) {
    return true;
  }
  const landlock_path_beneath_attr rule{.allowed_access = rights,
                                        .parent_fd = static_cast<std::int32_t>(target.Get())};
  return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

void SortPorts(std::vector<std::uint16_t>& ports) {
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
}

// What the fetcher's libraries read, wherever the system keeps it: the loader's cache and
// the libraries it loads later (the resolver's NSS modules, OpenSSL's providers), the
// trust store and TLS settings (Debian's, and where other systems keep them), and the
// resolver's settings.
constexpr std::array<std::string_view, 19> kFetcherReadable = {"/usr/lib",
                                                               "/usr/lib64",
                                                               "/lib",
                                                               "/lib64",
                                                               "/usr/local/lib",
                                                               "/etc/ld.so.cache",
                                                               "/etc/ssl",
                                                               "/usr/share/ca-certificates",
                                                               "/usr/local/share/ca-certificates",
                                                               "/etc/pki",
                                                               "/etc/ca-certificates",
                                                               "/etc/hosts",
                                                               "/etc/nsswitch.conf",
                                                               "/etc/gai.conf",
                                                               "/etc/host.conf",
                                                               "/etc/services",
                                                               "/etc/resolv.conf",
                                                               "/dev/urandom",
                                                               "/proc/self"};

// /etc/resolv.conf is often a link into /run, to a file that its manager (systemd-resolved,
// NetworkManager, resolvconf) replaces with a new one: the whole folder it leads to.
std::optional<std::filesystem::path> ResolverFolder() {
  std::error_code error;
  const std::filesystem::path link = "/etc/resolv.conf";
  if (!std::filesystem::is_symlink(link, error)) {
    return std::nullopt;
  }
  const std::filesystem::path target = std::filesystem::canonical(link, error);
  if (error || !target.has_parent_path() || target.parent_path() == "/") {
    return std::nullopt;
  }
  return target.parent_path();
}

}  // namespace

ConfinementRules WindowRulesFor(const ConfinementInputs& inputs) {
  ConfinementRules rules;
  rules.writableFolder = inputs.programFile.parent_path();
  rules.runtimeFolder = inputs.runtimeFolder;
  rules.deviceFolders = {std::filesystem::path(kSoundDevices)};
  rules.writableFiles = {std::filesystem::path(kNullDevice)};
  rules.executables = {inputs.programFile};
  if (!inputs.interpreter.empty()) {
    rules.executables.push_back(inputs.interpreter);
  }
  if (const auto port = XDisplayPort(inputs.display)) {
    rules.connectPorts.push_back(*port);
  }
  return rules;
}

ConfinementRules FetcherRulesFor(const ConfinementInputs& inputs) {
  ConfinementRules rules;
  std::vector<std::filesystem::path>& readable = rules.readable.emplace();
  readable.assign(kFetcherReadable.begin(), kFetcherReadable.end());
  if (const auto folder = ResolverFolder()) {
    readable.push_back(*folder);
  }
  readable.insert(readable.end(), inputs.certificates.begin(), inputs.certificates.end());
  auto& ports = rules.connectPorts;
  ports = {kDnsPort, kHttpsPort};
  if (inputs.scheme != "https") {
    ports.push_back(kHttpPort);
  }
  if (inputs.packagePort) {
    ports.push_back(*inputs.packagePort);
  }
  SortPorts(ports);
  return rules;
}

LandlockRuleset LandlockRulesetFor(const ConfinementRules& rules, int abi) {
  LandlockRuleset ruleset;
  if (abi < 1) {
    return ruleset;
  }
  ruleset.handledFs = HandledFsRights(abi, rules.readable.has_value());
  const auto allow = [&](const std::filesystem::path& path, std::uint64_t rights,
                         bool required = false) {
    rights &= ruleset.handledFs;
    if (!path.empty() && rights != 0) {
      ruleset.paths.push_back({.path = path, .rights = rights, .required = required});
    }
  };
  allow(rules.writableFolder, kFolderRights, /*required=*/true);
  allow(rules.runtimeFolder, kRuntimeRights);
  for (const auto& folder : rules.deviceFolders) {
    allow(folder, kDeviceRights);
  }
  for (const auto& file : rules.writableFiles) {
    allow(file, kFileRights);
  }
  for (const auto& program : rules.executables) {
    allow(program, kExecuteRights);
  }
  for (const auto& path : rules.readable.value_or(std::vector<std::filesystem::path>{})) {
    allow(path, kReadRights);
  }
  if (abi >= 4) {
    // Binding is refused outright: the program serves nothing.
    ruleset.handledNet = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
    ruleset.connectPorts = rules.connectPorts;
  }
  if (abi >= 6) {
    // No signal to a process outside the confinement: the program sends none, and code
    // that took it over cannot stop or kill the user's other programs. Abstract Unix
    // sockets stay reachable, because the X server listens on one.
    ruleset.scoped = LANDLOCK_SCOPE_SIGNAL;
  }
  return ruleset;
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
    // The name ends with its NUL; a segment without one names nothing.
    const auto end = path.find('\0');
    if (read != static_cast<ssize_t>(path.size()) || end == std::string::npos) {
      return {};
    }
    path.resize(end);
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
  const LandlockRuleset wanted = LandlockRulesetFor(rules, abi);
  const RulesetAttr attr{.handledAccessFs = wanted.handledFs,
                         .handledAccessNet = wanted.handledNet,
                         .scoped = wanted.scoped};
  const UniqueFd ruleset(static_cast<int>(CreateRuleset(&attr, RulesetAttrSize(abi), 0)));
  if (!ruleset.IsOpen()) {
    return std::nullopt;
  }
  for (const LandlockRuleset::PathRule& rule : wanted.paths) {
    if (!AllowBeneath(ruleset.Get(), rule.path, rule.rights) && rule.required) {
      return std::nullopt;
    }
  }
  for (const std::uint16_t port : wanted.connectPorts) {
    const NetPortAttr rule{.allowedAccess = LANDLOCK_ACCESS_NET_CONNECT_TCP, .port = port};
    ::syscall(SYS_landlock_add_rule, ruleset.Get(), kRuleNetPort, &rule, 0);
  }
  // Landlock takes effect only for a process that can gain no privileges by execve.
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::syscall(SYS_landlock_restrict_self, ruleset.Get(), 0) != 0) {
    return std::nullopt;
  }
  return abi;
}

ConfinementInputs ReadConfinementInputs(std::string_view scheme,
                                        std::optional<std::uint16_t> packagePort) {
  ConfinementInputs inputs;
  inputs.scheme = scheme;
  inputs.packagePort = packagePort;
  std::error_code error;
  inputs.programFile = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    inputs.interpreter = InterpreterOf(inputs.programFile);
  }
  const char* display = std::getenv("DISPLAY");
  inputs.display = display != nullptr ? display : "";
  inputs.runtimeFolder = PrivateRuntimeFolder();
  for (const char* name : {"SSL_CERT_FILE", "CURL_CA_BUNDLE"}) {
    if (const char* file = std::getenv(name); file != nullptr && file[0] == '/') {
      inputs.certificates.emplace_back(file);
    }
  }
  // A list, like PATH, as OpenSSL reads it.
  if (const char* folders = std::getenv("SSL_CERT_DIR"); folders != nullptr) {
    std::string_view rest(folders);
    while (!rest.empty()) {
      const std::string_view folder = rest.substr(0, rest.find(':'));
      if (folder.starts_with('/')) {
        inputs.certificates.emplace_back(folder);
      }
      rest.remove_prefix(std::min(rest.size(), folder.size() + 1));
    }
  }
  return inputs;
}

void ConfineWindowProcess(const ConfinementInputs& inputs) {
  if constexpr (KORVANI_CONFINE == 0) {
    return;
  }
  // Without /proc there is nothing to name the program's folder by, so no rules to make.
  if (!inputs.programFile.empty()) {
    Confine(WindowRulesFor(inputs));
  }
  RefuseSystemCalls(SystemCallPolicy::Window);
}

void ConfineFetcherProcess(const ConfinementInputs& inputs) {
  if constexpr (KORVANI_CONFINE == 0) {
    return;
  }
  Confine(FetcherRulesFor(inputs));
  RefuseSystemCalls(SystemCallPolicy::Fetcher);
}

}  // namespace korvani::platform
