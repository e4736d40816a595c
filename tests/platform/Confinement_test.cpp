#include "platform/Confinement.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <functional>

#include "platform/UniqueFd.h"
#include "support/EscapeAttempts.h"

using korvani::platform::ConfinementInputs;
using korvani::platform::ConfinementRules;
using korvani::platform::UniqueFd;
using korvani::support::ConnectToLoopback;
using korvani::support::CreateNew;
using korvani::support::ErrorOf;
using korvani::support::Run;

namespace {

using Ports = std::vector<std::uint16_t>;

// What a confined process meets: its folder holding its program (a copy of /bin/true),
// a folder elsewhere holding a file, and two listening ports, one of them the package
// host's.
struct Scene {
  QTemporaryDir folder;
  QTemporaryDir elsewhere;
  QTemporaryDir runtime;
  QTcpServer host;
  QTcpServer other;

  std::string Inside(const char* name) const { return folder.filePath(name).toStdString(); }
  std::string Outside(const char* name) const { return elsewhere.filePath(name).toStdString(); }
  std::string Program() const { return Inside("korvani-download"); }
  ConfinementRules Rules() const {
    return korvani::platform::RulesFor(
        {.programFile = Program(),
         .interpreter = korvani::platform::InterpreterOf(Program()),
         .scheme = "http",
         .packageHost = "127.0.0.1:" + std::to_string(host.serverPort()),
         .display = ":0",
         .runtimeFolder = runtime.path().toStdString()});
  }
};

int Bind() {
  const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {}, .sin_zero = {}};
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ErrorOf(
      ::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
}

struct Attempt {
  // The ABI from which the kernel can refuse it.
  int abi = 1;
  std::function<int(const Scene&)> run;
  // Rules changed for this row.
  std::function<void(ConfinementRules&)> change = [](ConfinementRules&) {};
  bool allowed = false;
};

// Runs `attempt` in a child process confined to the scene's rules; its errno, or -1 when
// the child could not be confined or did not end within the deadline.
int InConfinedChild(const Scene& scene, const Attempt& attempt) {
  ConfinementRules rules = scene.Rules();
  attempt.change(rules);
  const pid_t child = ::fork();
  if (child == 0) {
    if (!korvani::platform::Confine(rules)) {
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
  void portsFollowTheSchemeTheHostAndTheDisplay_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("display");
    QTest::addColumn<Ports>("ports");
    const auto row = [](const char* name, const char* scheme, const char* host, const char* display,
                        const Ports& ports) {
      QTest::newRow(name) << scheme << host << display << ports;
    };
    row("http: its redirects may go to https", "http", "packages.example", ":0", {53, 80, 443});
    row("https: its redirects stay on it", "https", "packages.example", ":0", {53, 443});
    row("host names a port", "http", "127.0.0.1:8080", "", {53, 80, 443, 8080});
    row("host names a default port", "https", "packages.example:443", "", {53, 443});
    row("X over ssh", "https", "h", "localhost:10.0", {53, 443, 6010});
    row("X on a named host, screen 1", "https", "h", "display.example:2.1", {53, 443, 6002});
    row("X over a protocol named tcp", "https", "h", "tcp/display.example:1", {53, 443, 6001});
    row("X on a local socket", "https", "h", "unix:3", {53, 443});
    row("X on a socket by protocol", "https", "h", "unix/display.example:3", {53, 443});
    row("X over DECnet", "https", "h", "node::0", {53, 443});
    row("X display number out of range", "https", "h", "h:60000", {53, 443});
    row("X display number not a number", "https", "h", "h:x", {53, 443});
    row("no X display", "https", "h", "", {53, 443});
  }
  void portsFollowTheSchemeTheHostAndTheDisplay() {
    QFETCH(QString, scheme);
    QFETCH(QString, host);
    QFETCH(QString, display);
    QFETCH(Ports, ports);
    const std::string schemeText = scheme.toStdString();
    const ConfinementRules rules =
        korvani::platform::RulesFor({.programFile = "/opt/setup/korvani-download",
                                     .interpreter = "/lib64/ld-linux-x86-64.so.2",
                                     .scheme = schemeText,
                                     .packageHost = host.toStdString(),
                                     .display = display.toStdString(),
                                     .runtimeFolder = {}});
    QCOMPARE(rules.connectPorts, ports);
    QCOMPARE(rules.writableFolder, std::filesystem::path("/opt/setup"));
    QCOMPARE(rules.executables, (std::vector<std::filesystem::path>{
                                    "/opt/setup/korvani-download", "/lib64/ld-linux-x86-64.so.2"}));
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
    row("connect to the package host's port",
        {.abi = 4,
         .run = [](const Scene& s) { return ConnectToLoopback(s.host.serverPort()); },
         .allowed = true});
    row("connect to another port",
        {.abi = 4, .run = [](const Scene& s) { return ConnectToLoopback(s.other.serverPort()); }});
    row("bind a port", {.abi = 4, .run = [](const Scene&) { return Bind(); }});
  }
  void confinedProcessMeetsItsRules() {
    QFETCH(Attempt, attempt);
    const int abi = korvani::platform::LandlockAbi();
    if (abi < attempt.abi) {
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

    const int error = InConfinedChild(scene, attempt);
    QVERIFY2(error >= 0, "the child could not be confined or did not end");
    if (attempt.allowed) {
      QCOMPARE(error, 0);
    } else {
      // Landlock refuses with EACCES, or EXDEV for a move between folders.
      QVERIFY2(error == EACCES || error == EXDEV, qPrintable(QString("errno %1").arg(error)));
    }
  }
};

QTEST_GUILESS_MAIN(ConfinementTest)
#include "Confinement_test.moc"
