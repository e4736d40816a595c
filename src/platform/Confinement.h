#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvani::platform {

// What a run of the program needs from the system, from which its rules are made.
struct ConfinementInputs {
  std::filesystem::path programFile;  // the running program, links resolved
  std::filesystem::path interpreter;  // its ELF interpreter; empty for a static program
  std::string_view scheme;            // of the package URL: "http" or "https"
  std::string packageHost;            // host[:port], as the catalogue resolved it
  std::string display;                // $DISPLAY
  // $XDG_RUNTIME_DIR when it is the user's own and private; empty otherwise.
  std::filesystem::path runtimeFolder;
};

// What a confined process may still do. Landlock refuses the rest of what it handles:
// every other write, creation, removal and execution, and every other TCP connect and
// bind. Reading, Unix sockets and UDP stay as they are.
struct ConfinementRules {
  // Files beneath it may be created, written, truncated, renamed, linked and removed.
  std::filesystem::path writableFolder;
  // Folders, and nothing else, may be made beneath it: libpulse, which ALSA loads to ask
  // whether a sound server runs, makes its folder there when none has yet, and says so
  // on stderr when it cannot.
  std::filesystem::path runtimeFolder;
  // Device files beneath each may be opened for writing and driven with ioctl.
  std::vector<std::filesystem::path> deviceFolders;
  // Files that may be written but not made or removed.
  std::vector<std::filesystem::path> writableFiles;
  // The only files that may be run, or loaded as a program's interpreter.
  std::vector<std::filesystem::path> executables;
  // The only TCP ports that may be connected to, ascending, each once.
  std::vector<std::uint16_t> connectPorts;
};

// The rules for a run with `inputs`:
//  - writes beneath the program's folder, where the package and its temporary go;
//  - folders made in the session's runtime folder;
//  - the sound card's devices (/dev/snd) and /dev/null;
//  - running the program itself (the restart after display loss) and its interpreter,
//    which the kernel loads with the same right;
//  - TCP to the default ports of the scheme and of the redirects it allows (http: 80 and
//    443; https: 443), to the port the package host names, to 53 (a name lookup whose
//    answer does not fit a datagram goes over TCP), and to the X display's port when
//    $DISPLAY names a host (6000 plus the display's number).
ConfinementRules RulesFor(const ConfinementInputs& inputs);

// The ELF interpreter (PT_INTERP) that `program` names; empty when it names none or
// cannot be read.
std::filesystem::path InterpreterOf(const std::filesystem::path& program);

// The highest Landlock ABI the running kernel offers; 0 when it offers none.
int LandlockAbi();

// Confines the calling thread and every thread and program it starts later to `rules`,
// for good, as far as the kernel's Landlock ABI can (each right it lacks stays as it
// was). Sets no_new_privs, which Landlock requires. Call it before any thread exists:
// threads that already run stay as they were. Returns the ABI enforced; nothing when
// the kernel has no Landlock or refused the ruleset, and the process is then unconfined.
std::optional<int> Confine(const ConfinementRules& rules);

// The program's own confinement, once at start-up before any thread: the rules for this
// process (its file from /proc/self/exe, $DISPLAY, $XDG_RUNTIME_DIR) and the package host
// it will fetch from. Does nothing where the build switched confinement off
// (KORVANI_CONFINE) or the kernel has no Landlock.
void ConfineToOwnFolder(std::string_view scheme, const std::string& packageHost);

}  // namespace korvani::platform
