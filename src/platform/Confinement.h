#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvani::platform {

// What a run of the program needs from the system, from which the rules of its two
// processes are made.
struct ConfinementInputs {
  std::filesystem::path programFile;         // the running program, links resolved
  std::filesystem::path interpreter;         // its ELF interpreter; empty for a static program
  std::string_view scheme;                   // of the package URL: "http" or "https"
  std::optional<std::uint16_t> packagePort;  // the port the package host names, if any
  std::string display;                       // $DISPLAY
  // $XDG_RUNTIME_DIR when it is the user's own and private; empty otherwise.
  std::filesystem::path runtimeFolder;
  // Certificates the environment names for the TLS library: $SSL_CERT_FILE, each folder
  // of $SSL_CERT_DIR, $CURL_CA_BUNDLE.
  std::vector<std::filesystem::path> certificates;
};

// What a confined process may still do. Landlock refuses the rest of what it handles:
// every other write, creation, removal and execution, every other TCP connect and bind,
// and, where `readable` is set, every other read.
struct ConfinementRules {
  // Files beneath it may be created, written, truncated, renamed within their folder and
  // removed. Empty: nowhere.
  std::filesystem::path writableFolder;
  // Folders, and nothing else, may be made beneath it: libpulse, which ALSA loads to ask
  // whether a sound server runs, makes its folder there when none has yet.
  std::filesystem::path runtimeFolder;
  // Device files beneath each may be opened for writing and driven with ioctl.
  std::vector<std::filesystem::path> deviceFolders;
  // Files that may be written but not made or removed.
  std::vector<std::filesystem::path> writableFiles;
  // The only files that may be run, or loaded as a program's interpreter.
  std::vector<std::filesystem::path> executables;
  // When set, the only files and folders that may be read, each with what lies beneath.
  std::optional<std::vector<std::filesystem::path>> readable;
  // The only TCP ports that may be connected to, ascending, each once.
  std::vector<std::uint16_t> connectPorts;
};

// The rules of the window's process, which shows the window, plays the tones and saves
// the package, and leaves the network to the fetcher:
//  - writes beneath the program's folder, where the package and its temporary go;
//  - folders made in the session's runtime folder;
//  - the sound card's devices (/dev/snd) and /dev/null;
//  - running the program itself (the restart after display loss) and its interpreter,
//    which the kernel loads with the same right;
//  - TCP only to the X display's port when $DISPLAY names a host (6000 plus the
//    display's number). Reading stays open: Qt, fonts, themes and ALSA read where they like.
ConfinementRules WindowRulesFor(const ConfinementInputs& inputs);

// The rules of the fetcher, which parses every byte the network sends:
//  - no writes, no new files, nothing run;
//  - reads only beneath the system's libraries, the TLS library's certificates and
//    settings (and those the environment names), the resolver's files (/etc/resolv.conf
//    wherever its link leads), /dev/urandom and its own /proc entry;
//  - TCP to the default ports of the scheme and of the redirects it allows (http: 80 and
//    443; https: 443), to the package host's port, and to 53 (a name lookup whose answer
//    does not fit a datagram goes over TCP).
ConfinementRules FetcherRulesFor(const ConfinementInputs& inputs);

// The rules as Landlock takes them on a kernel that offers ABI `abi`: each right masked by
// what that ABI knows, every rule in the ruleset's terms.
struct LandlockRuleset {
  struct PathRule {
    std::filesystem::path path;
    std::uint64_t rights = 0;
    // A ruleset without this rule would break the run (the program's folder): when it
    // cannot be added, no ruleset is applied at all.
    bool required = false;
    bool operator==(const PathRule&) const = default;
  };
  std::uint64_t handledFs = 0;
  std::uint64_t handledNet = 0;  // from ABI 4
  std::uint64_t scoped = 0;      // from ABI 6
  std::vector<PathRule> paths;
  std::vector<std::uint16_t> connectPorts;  // empty below ABI 4
};
LandlockRuleset LandlockRulesetFor(const ConfinementRules& rules, int abi);

// The ELF interpreter (PT_INTERP) that `program` names; empty when it names none, cannot
// be read, or is not a name that ends with its NUL.
std::filesystem::path InterpreterOf(const std::filesystem::path& program);

// The highest Landlock ABI the running kernel offers; 0 when it offers none.
int LandlockAbi();

// Confines the calling thread and every thread and program it starts later to `rules`,
// for good, as far as the kernel's Landlock ABI can (each right it lacks stays as it
// was). Sets no_new_privs, which Landlock requires. Call it before any thread exists:
// threads that already run stay as they were. Returns the ABI enforced; nothing when the
// kernel has no Landlock, or refused the ruleset or one of its required rules, and the
// process is then unconfined by Landlock.
std::optional<int> Confine(const ConfinementRules& rules);

// The inputs of this run: the program's file from /proc/self/exe, $DISPLAY,
// $XDG_RUNTIME_DIR and the certificates' variables, with the package's scheme and port.
ConfinementInputs ReadConfinementInputs(std::string_view scheme,
                                        std::optional<std::uint16_t> packagePort);

// Each process's own confinement, once, before any thread: Landlock with its rules, then
// the system calls it never makes refused (platform/SystemCallFilter.h). They do nothing
// where the build switched confinement off (KORVANI_CONFINE); Landlock does nothing where
// the kernel lacks it.
void ConfineWindowProcess(const ConfinementInputs& inputs);
void ConfineFetcherProcess(const ConfinementInputs& inputs);

}  // namespace korvani::platform
