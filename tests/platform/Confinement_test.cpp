#include "platform/Confinement.h"

#include <arpa/inet.h>
#include <elf.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/landlock.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>

#include "platform/Clock.h"
#include "platform/EventWait.h"
#include "platform/HttpClient.h"
#include "platform/SystemCallFilter.h"
#include "platform/UniqueFd.h"
#include "support/EscapeAttempts.h"
#include "support/host/PackageHostProcess.h"
#include "support/host/TestCertificates.h"

using korvani::platform::ConfinementInputs;
using korvani::platform::ConfinementRules;
using korvani::platform::LandlockRuleset;
using korvani::platform::SystemCallPolicy;
using korvani::platform::UniqueFd;
using korvani::support::ConnectToLoopback;
using korvani::support::CreateNew;
using korvani::support::ErrorOf;
using korvani::support::Run;

namespace {

using Ports = std::vector<std::uint16_t>;

// What a confined process meets: its folder holding its program (a copy of /bin/true),
// a folder elsewhere holding a file, two listening ports, one of them the package host's,
// and a Unix socket that listens, as the X server's and the session bus's do.
struct Scene {
  QTemporaryDir folder;
  QTemporaryDir elsewhere;
  QTemporaryDir runtime;
  QTcpServer host;
  QTcpServer other;
  UniqueFd unixListener;

  std::string Inside(const char* name) const { return folder.filePath(name).toStdString(); }
  std::string Outside(const char* name) const { return elsewhere.filePath(name).toStdString(); }
  std::string Program() const { return Inside("korvani-download"); }
  std::string UnixSocket() const { return Outside("socket"); }
  // A file that can be read in HOME, and the name of one that must not be made there.
  const std::string home =
      QDir::home().filePath(QString(".korvani-confinement-%1").arg(::getpid())).toStdString();
  std::string InHome() const { return home; }
  std::string NewInHome() const { return home + ".new"; }
  bool ListenOnUnixSocket() {
    unixListener = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    UnixSocket().copy(address.sun_path, sizeof address.sun_path - 1);
    return ::bind(unixListener.Get(), reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) == 0 &&
           ::listen(unixListener.Get(), 1) == 0;
  }
  ConfinementInputs Inputs() const {
    return {.programFile = Program(),
            .interpreter = korvani::platform::InterpreterOf(Program()),
            .scheme = "http",
            .packagePort = host.serverPort(),
            .display = ":0",
            .runtimeFolder = runtime.path().toStdString(),
            .certificates = {}};
  }
};

// A connect to the Unix socket at `path`.
int ConnectToUnixSocket(const std::string& path) {
  const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.IsOpen()) {
    return errno;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  return ErrorOf(
      ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
}

// Leaves root's other capabilities, so that only no_new_privs can let Landlock in.
void DropSysAdmin() {
  __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
  std::array<__user_cap_data_struct, 2> data{};
  if (::syscall(SYS_capget, &header, data.data()) == 0) {
    data[0].effective &= ~(1U << CAP_SYS_ADMIN);
    data[0].permitted &= ~(1U << CAP_SYS_ADMIN);
    ::syscall(SYS_capset, &header, data.data());
  }
}

// A 64-bit ELF header and one PT_INTERP segment holding `interpreter`, and nothing else.
bool WriteElfWithInterpreter(const std::string& path, const QByteArray& interpreter) {
  Elf64_Ehdr header{};
  std::memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = ELFCLASS64;
  header.e_phoff = sizeof header;
  header.e_phentsize = sizeof(Elf64_Phdr);
  header.e_phnum = 1;
  Elf64_Phdr segment{};
  segment.p_type = PT_INTERP;
  segment.p_offset = sizeof header + sizeof segment;
  segment.p_filesz = static_cast<Elf64_Xword>(interpreter.size());
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::WriteOnly) &&
         file.write(reinterpret_cast<const char*>(&header), sizeof header) == sizeof header &&
         file.write(reinterpret_cast<const char*>(&segment), sizeof segment) == sizeof segment &&
         file.write(interpreter) == interpreter.size();
}

constexpr const char* kHostsName = "packages.korvani.test";

bool CanMountPrivately() {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(::unshare(CLONE_NEWNS) == 0 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// In a mount namespace of this process's own, `hosts` in place of /etc/hosts.
bool BindOverHostsFile(const std::string& hosts) {
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
}

// Fetches `url` whole, as the fetcher does, trusting the CA in `caFile` if one is named:
// 0, or EIO when the body did not arrive.
int FetchWhole(const std::string& url, const char* caFile) {
  if (caFile != nullptr) {
    // The machine's own choices would come first.
    ::unsetenv("CURL_CA_BUNDLE");
    ::unsetenv("SSL_CERT_DIR");
    ::setenv("SSL_CERT_FILE", caFile, 1);
  }
  korvani::platform::SystemClock clock;
  korvani::platform::PollEventWait wait(clock);
  korvani::platform::CurlHttpClient http;
  const auto session = http.Open("VB Program", wait);
  const auto opened = session ? session->OpenUrl(url) : nullptr;
  std::array<std::byte, 8162> buffer{};
  for (std::size_t received = 0; opened;) {
    const korvani::platform::ReadResult read = opened->Read(buffer);
    if (read.status != korvani::platform::ReadResult::Status::Data) {
      return read.status == korvani::platform::ReadResult::Status::End && received > 0 ? 0 : EIO;
    }
    received += read.count;
  }
  return EIO;
}

int ReadFile(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return ErrorOf(file.IsOpen());
}

int Bind() {
  const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {}, .sin_zero = {}};
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ErrorOf(
      ::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
}

// Which process a row's child is confined as: the window's, or the fetcher's.
enum class Process { Window, Fetcher };

struct Attempt {
  Process process = Process::Window;
  // The ABI from which the kernel can refuse it (0: refused by the system call filter).
  int abi = 1;
  std::function<int(const Scene&)> run;
  // Rules changed for this row.
  std::function<void(ConfinementRules&)> change = [](ConfinementRules&) {};
  // Run in the child before it is confined.
  std::function<void()> beforeConfining = [] {};
  // False when the rules must not be applied at all: the child then reports, as its
  // outcome, whether it was confined all the same.
  bool confinable = true;
  bool allowed = false;
};

// Runs `attempt` in a child process confined to the scene's rules; its errno, or -1 when
// the child could not be confined or did not end within the deadline.
int InConfinedChild(const Scene& scene, const Attempt& attempt,
                    const ConfinementInputs* inputs = nullptr) {
  const bool fetcher = attempt.process == Process::Fetcher;
  const ConfinementInputs ofScene = scene.Inputs();
  if (inputs == nullptr) {
    inputs = &ofScene;
  }
  ConfinementRules rules = fetcher ? korvani::platform::FetcherRulesFor(*inputs)
                                   : korvani::platform::WindowRulesFor(*inputs);
  attempt.change(rules);
  const pid_t child = ::fork();
  if (child == 0) {
    attempt.beforeConfining();
    if (!attempt.confinable) {
      ::_exit(korvani::platform::Confine(rules) ? EPERM : 0);
    }
    if (!korvani::platform::Confine(rules) ||
        !korvani::platform::RefuseSystemCalls(fetcher ? SystemCallPolicy::Fetcher
                                                      : SystemCallPolicy::Window)) {
      ::_exit(255);
    }
    ::_exit(attempt.run(scene));
  }
  // The child's end makes its pidfd readable: waited for with a deadline, not polled.
  constexpr int kDeadlineMs = 10000;
  const korvani::platform::UniqueFd ended(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
  pollfd end{.fd = ended.Get(), .events = POLLIN, .revents = 0};
  if (!ended.IsOpen() || ::poll(&end, 1, kDeadlineMs) != 1) {
    ::kill(child, SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

}  // namespace

Q_DECLARE_METATYPE(Attempt)

class ConfinementTest : public QObject {
  Q_OBJECT

 private slots:
  void interpreterIsReadFromTheProgram_data() {
    QTest::addColumn<QByteArray>("interpreter");  // what PT_INTERP holds
    QTest::addColumn<QString>("expected");
    QTest::newRow("ends with its NUL") << QByteArray("/lib/ld.so", 11) << "/lib/ld.so";
    QTest::newRow("no NUL") << QByteArray("/lib/ld.so") << "";
    QTest::newRow("empty") << QByteArray() << "";
  }
  void interpreterIsReadFromTheProgram() {
    QFETCH(QByteArray, interpreter);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    const std::string program = folder.filePath("program").toStdString();
    QVERIFY(WriteElfWithInterpreter(program, interpreter));
    QCOMPARE(QString::fromStdString(korvani::platform::InterpreterOf(program)), expected);
  }

  // What the fetcher is for still works, confined: a TLS handshake with a CA that the
  // environment names, and a name that only /etc/hosts knows.
  void fetcherStillFetches_data() {
    QTest::addColumn<bool>("https");
    QTest::newRow("https, its CA in SSL_CERT_FILE") << true;
    QTest::newRow("a host known only through /etc/hosts") << false;
  }
  void fetcherStillFetches() {
    QFETCH(bool, https);
    std::optional<korvani::host::TestCertificates> certificates;
    QStringList arguments{"--generate"};
    QString ca;
    if (https) {
      certificates.emplace();
      QVERIFY2(certificates->IsReady(), qPrintable(certificates->Failure()));
      arguments +=
          certificates->HostArguments(korvani::host::TestCertificates::Leaf::SignedByTestCa);
      ca = certificates->CaCertificate();
    }
    korvani::host::PackageHostProcess host(arguments);
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    const std::string url = QString("%1://%2:%3/downloads/RUD_UZ7_en.exe")
                                .arg(https ? "https" : "http", https ? "127.0.0.1" : kHostsName)
                                .arg(host.Port())
                                .toStdString();
    // A name that only the hosts file knows, in a mount namespace of the child's own.
    QTemporaryDir hostsFolder;
    const std::string hosts = hostsFolder.filePath("hosts").toStdString();
    std::ofstream(hosts) << "127.0.0.1 " << kHostsName << "\n";
    if (!https && !CanMountPrivately()) {
      QSKIP("a private mount namespace needs root (CAP_SYS_ADMIN)");
    }
    const std::string caFile = ca.toStdString();
    const ConfinementInputs inputs{.programFile = {},
                                   .interpreter = {},
                                   .scheme = https ? "https" : "http",
                                   .packagePort = host.Port(),
                                   .display = "",
                                   .runtimeFolder = {},
                                   .certificates = {caFile}};
    const Attempt fetch{
        .process = Process::Fetcher,
        .run = [&](const Scene&) { return FetchWhole(url, https ? caFile.c_str() : nullptr); },
        .beforeConfining =
            [&] {
              if (!https && !BindOverHostsFile(hosts)) {
                ::_exit(255);
              }
            },
        .allowed = true};
    Scene scene;
    QCOMPARE(InConfinedChild(scene, fetch, &inputs), 0);
  }

  // The fetcher connects where the package and its redirects are; the window's process
  // only to an X server that $DISPLAY names over TCP.
  void portsFollowTheSchemeTheHostAndTheDisplay_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<int>("packagePort");  // 0: none named
    QTest::addColumn<QString>("display");
    QTest::addColumn<Ports>("fetcherPorts");
    QTest::addColumn<Ports>("windowPorts");
    const auto row = [](const char* name, const char* scheme, int port, const char* display,
                        const Ports& fetcher, const Ports& window) {
      QTest::newRow(name) << scheme << port << display << fetcher << window;
    };
    row("http: its redirects may go to https", "http", 0, ":0", {53, 80, 443}, {});
    row("https: its redirects stay on it", "https", 0, ":0", {53, 443}, {});
    row("host names a port", "http", 8080, "", {53, 80, 443, 8080}, {});
    row("host names a default port", "https", 443, "", {53, 443}, {});
    row("X over ssh", "https", 0, "localhost:10.0", {53, 443}, {6010});
    row("X on a named host, screen 1", "https", 0, "display.example:2.1", {53, 443}, {6002});
    row("X over a protocol named tcp", "https", 0, "tcp/display.example:1", {53, 443}, {6001});
    row("X on a local socket", "https", 0, "unix:3", {53, 443}, {});
    row("X on a socket by protocol", "https", 0, "unix/display.example:3", {53, 443}, {});
    row("X over DECnet", "https", 0, "node::0", {53, 443}, {});
    row("X display number out of range", "https", 0, "h:60000", {53, 443}, {});
    row("X display number not a number", "https", 0, "h:x", {53, 443}, {});
    row("no X display", "https", 0, "", {53, 443}, {});
  }
  void portsFollowTheSchemeTheHostAndTheDisplay() {
    QFETCH(QString, scheme);
    QFETCH(int, packagePort);
    QFETCH(QString, display);
    QFETCH(Ports, fetcherPorts);
    QFETCH(Ports, windowPorts);
    const std::string schemeText = scheme.toStdString();
    const ConfinementInputs inputs{
        .programFile = "/opt/setup/korvani-download",
        .interpreter = "/lib64/ld-linux-x86-64.so.2",
        .scheme = schemeText,
        .packagePort = packagePort != 0 ? std::optional<std::uint16_t>(packagePort) : std::nullopt,
        .display = display.toStdString(),
        .runtimeFolder = {},
        .certificates = {}};
    const ConfinementRules window = korvani::platform::WindowRulesFor(inputs);
    const ConfinementRules fetcher = korvani::platform::FetcherRulesFor(inputs);
    QCOMPARE(fetcher.connectPorts, fetcherPorts);
    QCOMPARE(window.connectPorts, windowPorts);
    QCOMPARE(window.writableFolder, std::filesystem::path("/opt/setup"));
    QCOMPARE(window.executables,
             (std::vector<std::filesystem::path>{"/opt/setup/korvani-download",
                                                 "/lib64/ld-linux-x86-64.so.2"}));
    QVERIFY(fetcher.writableFolder.empty() && fetcher.executables.empty() &&
            fetcher.writableFiles.empty() && fetcher.deviceFolders.empty());
  }

  // What each kernel is asked for: the rights it knows and no other, which it would refuse
  // with the whole ruleset. Moving files between folders (ABI 2's REFER) is never granted.
  void rulesetFollowsTheAbi_data() {
    QTest::addColumn<int>("abi");
    QTest::addColumn<bool>("fetcher");
    QTest::addColumn<quint64>("handledFs");
    QTest::addColumn<quint64>("folderRights");
    QTest::addColumn<bool>("net");
    QTest::addColumn<bool>("scoped");
    constexpr quint64 kAbi1 =
        LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
        LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
        LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK |
        LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    constexpr quint64 kRead = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
    constexpr quint64 kTruncate = 1ULL << 14;  // ABI 3
    constexpr quint64 kIoctlDev = 1ULL << 15;  // ABI 5
    constexpr quint64 kFolder = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG |
                                LANDLOCK_ACCESS_FS_REMOVE_FILE;
    const auto row = [](const char* name, int abi, bool fetcher, quint64 handled, quint64 folder,
                        bool net, bool scoped) {
      QTest::newRow(name) << abi << fetcher << handled << folder << net << scoped;
    };
    row("ABI 1, window", 1, false, kAbi1, kFolder, false, false);
    row("ABI 2 (Debian 12), window", 2, false, kAbi1, kFolder, false, false);
    row("ABI 3, window", 3, false, kAbi1 | kTruncate, kFolder | kTruncate, false, false);
    row("ABI 4, window", 4, false, kAbi1 | kTruncate, kFolder | kTruncate, true, false);
    row("ABI 5, window", 5, false, kAbi1 | kTruncate | kIoctlDev, kFolder | kTruncate, true, false);
    row("ABI 6, window", 6, false, kAbi1 | kTruncate | kIoctlDev, kFolder | kTruncate, true, true);
    row("ABI 1, fetcher", 1, true, kAbi1 | kRead, 0, false, false);
    row("ABI 2 (Debian 12), fetcher", 2, true, kAbi1 | kRead, 0, false, false);
    row("ABI 4, fetcher", 4, true, kAbi1 | kRead | kTruncate, 0, true, false);
  }
  void rulesetFollowsTheAbi() {
    QFETCH(int, abi);
    QFETCH(bool, fetcher);
    QFETCH(quint64, handledFs);
    QFETCH(quint64, folderRights);
    QFETCH(bool, net);
    QFETCH(bool, scoped);
    const ConfinementInputs inputs{.programFile = "/opt/setup/korvani-download",
                                   .interpreter = {},
                                   .scheme = "http",
                                   .packagePort = 8080,
                                   .display = "",
                                   .runtimeFolder = "/run/user/1000",
                                   .certificates = {}};
    const LandlockRuleset ruleset =
        korvani::platform::LandlockRulesetFor(fetcher ? korvani::platform::FetcherRulesFor(inputs)
                                                      : korvani::platform::WindowRulesFor(inputs),
                                              abi);
    QCOMPARE(ruleset.handledFs, handledFs);
    QCOMPARE(ruleset.handledNet != 0, net);
    if (!net) {
      QVERIFY(ruleset.connectPorts.empty());
    }
    QCOMPARE(ruleset.scoped != 0, scoped);
    quint64 folder = 0;
    for (const LandlockRuleset::PathRule& rule : ruleset.paths) {
      QVERIFY2((rule.rights & ~ruleset.handledFs) == 0, rule.path.c_str());
      QCOMPARE(rule.required, rule.path == "/opt/setup");
      if (rule.path == "/opt/setup") {
        folder = rule.rights;
      }
    }
    QCOMPARE(folder, folderRights);
  }

  void confinedProcessMeetsItsRules_data() {
    QTest::addColumn<Attempt>("attempt");
    const auto row = [](const char* name, const Attempt& attempt) {
      QTest::newRow(name) << attempt;
    };
    row("write inside the folder",
        {.run = [](const Scene& s) { return CreateNew(s.Inside("new").c_str()); },
         .allowed = true});
    row("replace a file in the folder by rename",
        {.run =
             [](const Scene& s) {
               const int created = CreateNew(s.Inside(".new").c_str());
               return created != 0 ? created
                                   : ErrorOf(::rename(s.Inside(".new").c_str(),
                                                      s.Inside("package").c_str()) == 0);
             },
         .allowed = true});
    row("create a file outside the folder",
        {.run = [](const Scene& s) { return CreateNew(s.Outside("new").c_str()); }});
    row("rename a file from outside into the folder", {.run = [](const Scene& s) {
          return ErrorOf(::rename(s.Outside("planted").c_str(), s.Inside("planted").c_str()) == 0);
        }});
    row("remove a file outside the folder", {.run = [](const Scene& s) {
          return ErrorOf(::unlink(s.Outside("planted").c_str()) == 0);
        }});
    row("make a folder in the runtime folder",
        {.run =
             [](const Scene& s) {
               return ErrorOf(::mkdir((s.runtime.path() + "/pulse").toUtf8().constData(), 0700) ==
                              0);
             },
         .allowed = true});
    row("create a file in the runtime folder", {.run = [](const Scene& s) {
          return CreateNew((s.runtime.path() + "/bus").toStdString().c_str());
        }});
    row("run /bin/true", {.run = [](const Scene&) { return Run("/bin/true"); }});
    row("run the program's own file",
        {.run = [](const Scene& s) { return Run(s.Program().c_str()); }, .allowed = true});
    // The kernel checks the right to run on the interpreter it loads, too.
    row("run the program's own file, its interpreter not allowed",
        {.run = [](const Scene& s) { return Run(s.Program().c_str()); },
         .change = [](ConfinementRules& rules) { rules.executables.resize(1); }});
    // Without its folder, the program could save nothing: better unconfined than useless.
    row("no rule for the folder: nothing applied",
        {.run = [](const Scene&) { return 0; },
         .change = [](ConfinementRules& rules) { rules.writableFolder = "/nonexistent/korvani"; },
         .confinable = false,
         .allowed = true});
    row("create a file in HOME",
        {.run = [](const Scene& s) { return CreateNew(s.NewInHome().c_str()); }});
    row("connect to a Unix socket",
        {.run = [](const Scene& s) { return ConnectToUnixSocket(s.UnixSocket()); },
         .allowed = true});
    row("connect to the package host's port",
        {.abi = 4, .run = [](const Scene& s) { return ConnectToLoopback(s.host.serverPort()); }});
    row("connect to another port",
        {.abi = 4, .run = [](const Scene& s) { return ConnectToLoopback(s.other.serverPort()); }});
    row("bind a port", {.abi = 4, .run = [](const Scene&) { return Bind(); }});
    // Root's CAP_SYS_ADMIN lets Landlock in without no_new_privs; without it, only
    // no_new_privs does.
    row("confined without CAP_SYS_ADMIN",
        {.run =
             [](const Scene&) { return ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1 ? 0 : EPERM; },
         .beforeConfining = DropSysAdmin,
         .allowed = true});

    const auto fetcher = [&row](const char* name, Attempt attempt) {
      attempt.process = Process::Fetcher;
      row((std::string("fetcher: ") + name).c_str(), attempt);
    };
    fetcher("read a file in HOME", {.run = [](const Scene& s) { return ReadFile(s.InHome()); }});
    fetcher("read the resolver's settings",
            {.run = [](const Scene&) { return ReadFile("/etc/hosts"); }, .allowed = true});
    fetcher("create a file in the folder",
            {.run = [](const Scene& s) { return CreateNew(s.Inside("new").c_str()); }});
    fetcher("connect to a Unix socket",
            {.abi = 0, .run = [](const Scene& s) { return ConnectToUnixSocket(s.UnixSocket()); }});
    fetcher("run /bin/true", {.run = [](const Scene&) { return Run("/bin/true"); }});
    fetcher("run /bin/true through the ELF interpreter", {.run = [](const Scene& s) {
              return Run(korvani::platform::InterpreterOf(s.Program()).c_str(), "/bin/true");
            }});
    fetcher("connect to the package host's port",
            {.abi = 4,
             .run = [](const Scene& s) { return ConnectToLoopback(s.host.serverPort()); },
             .allowed = true});
    fetcher("connect to another port", {.abi = 4, .run = [](const Scene& s) {
                                          return ConnectToLoopback(s.other.serverPort());
                                        }});
  }
  void confinedProcessMeetsItsRules() {
    QFETCH(Attempt, attempt);
    const int abi = korvani::platform::LandlockAbi();
    if (attempt.abi > 0 && abi < attempt.abi) {
      QSKIP(qPrintable(QString("the kernel offers Landlock ABI %1; this needs ABI %2")
                           .arg(abi)
                           .arg(attempt.abi)));
    }
    Scene scene;
    QVERIFY(scene.folder.isValid() && scene.elsewhere.isValid());
    QVERIFY(QFile::copy("/bin/true", scene.folder.filePath("korvani-download")));
    QVERIFY(QFile(scene.elsewhere.filePath("planted")).open(QIODevice::WriteOnly));
    QVERIFY(scene.host.listen(QHostAddress::LocalHost) &&
            scene.other.listen(QHostAddress::LocalHost));
    QVERIFY(scene.ListenOnUnixSocket());
    const auto removeFromHome = qScopeGuard([&] {
      ::unlink(scene.InHome().c_str());
      ::unlink(scene.NewInHome().c_str());
    });
    QCOMPARE(CreateNew(scene.InHome().c_str()), 0);

    const int error = InConfinedChild(scene, attempt);
    QVERIFY2(error >= 0, "the child could not be confined or did not end");
    if (attempt.allowed) {
      QCOMPARE(error, 0);
    } else {
      // Landlock refuses with EACCES, or EXDEV for a move between folders; the system
      // call filter with EPERM.
      QVERIFY2(error == EACCES || error == EXDEV || error == EPERM,
               qPrintable(QString("errno %1").arg(error)));
    }
  }
};

QTEST_GUILESS_MAIN(ConfinementTest)
#include "Confinement_test.moc"
