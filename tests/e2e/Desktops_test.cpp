// The real program on the desktops people run and without any: an X display,
// Wayland with and without XWayland, no display at all, a display that does not
// answer; with Qt's options on its command line and a sound server that never
// takes a tone; a display that goes away during the run. Whatever the desktop, the run
// ends quietly with status 0.
// Runs on an X server (Xvfb) with a window manager (openbox) of its own, so it takes no
// turns on the suite's display; the Wayland cases need weston with its headless backend
// and XWayland, the FAT case root and fusefat.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>
#include <climits>
#include <memory>
#include <optional>

#include "e2e/FaultCases.h"
#include "e2e/PrivateDesktop.h"
#include "e2e/ProgramRun.h"
#include "support/ChildProcess.h"
#include "support/X11Client.h"
#include "support/host/PackageHostProcess.h"

using namespace korvani;
using e2e::ProgramRun;

namespace {

constexpr int kRunDeadlineMs = 30000;

constexpr std::chrono::seconds kWindowDeadline{10};
const std::string kTitle = "Setup - Korvani";

// weston on its headless backend with XWayland, in a runtime folder of its own,
// for one test.
class Weston {
 public:
  Weston() {
    if (QStandardPaths::findExecutable("weston").isEmpty()) {
      refusal_ = "weston is not installed";
      return;
    }
    process_.setProcessEnvironment(support::EnvironmentWith(
        {"XDG_RUNTIME_DIR=" + runtime_.path(), "DISPLAY", "WAYLAND_DISPLAY"}));
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start("weston", {"--backend=headless-backend.so", "--xwayland",
                              "--socket=" + QString(kSocket), "--log=" + runtime_.filePath("log")});
    // weston names the X display it listens on in its log; it picks the number.
    static const QRegularExpression kListening("xserver listening on display (:\\d+)");
    QRegularExpressionMatch listening;
    const bool started = QTest::qWaitFor(
        [&] {
          QFile log(runtime_.filePath("log"));
          listening = kListening.match(log.open(QIODevice::ReadOnly) ? log.readAll() : "");
          return listening.hasMatch() || process_.state() == QProcess::NotRunning;
        },
        10000);
    if (!started || !listening.hasMatch() || !QFile::exists(runtime_.filePath(kSocket))) {
      refusal_ = "weston --backend=headless-backend.so --xwayland did not start: " +
                 QString::fromLocal8Bit(process_.readAll());
      return;
    }
    xDisplay_ = listening.captured(1);
  }

  ~Weston() { support::Stop(process_); }
  Weston(const Weston&) = delete;
  Weston& operator=(const Weston&) = delete;

  // Why weston cannot serve here; empty when it runs.
  QString refusal() const { return refusal_; }
  // The environment of a client in a Wayland session: `withX` adds XWayland's display.
  QStringList Session(bool withX) const {
    QStringList session{"QT_QPA_PLATFORM", "XDG_SESSION_TYPE=wayland",
                        "XDG_RUNTIME_DIR=" + runtime_.path(), "WAYLAND_DISPLAY=" + QString(kSocket),
                        withX ? "DISPLAY=" + xDisplay_ : "DISPLAY"};
#if defined(__SANITIZE_ADDRESS__)
    // Qt's Wayland platform loads graphics drivers that keep their one-time state and
    // are unloaded before LeakSanitizer reports, so no suppression can name them. Our
    // own code's leaks are checked in every other run of the program.
    session << "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1";
#endif
    return session;
  }
  QString xDisplay() const {
    return xDisplay_;
  }
  // Ends the compositor at once, as a crash would.
  void Kill() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  // Ends the compositor's XWayland at once, as a crash would, and leaves the compositor
  // running; false when it has none running.
  bool KillXWayland() const {
    const qint64 compositor = process_.processId();
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      bool isProcess = false;
      const pid_t pid = entry.toInt(&isProcess);
      QFile stat("/proc/" + entry + "/stat");
      if (!isProcess || !stat.open(QIODevice::ReadOnly)) {
        continue;
      }
      // "pid (name) state parent ...", where the name may hold blanks and parentheses.
      const QByteArray text = stat.readAll();
      const qsizetype nameEnd = text.lastIndexOf(')');
      const qsizetype nameStart = text.indexOf('(') + 1;
      const QList<QByteArray> fields = text.mid(nameEnd + 2).split(' ');
      if (text.mid(nameStart, nameEnd - nameStart) == "Xwayland" && fields.size() > 1 &&
          fields[1].toLongLong() == compositor) {
        return ::kill(pid, SIGKILL) == 0;
      }
    }
    return false;
  }

 private:
  static constexpr const char* kSocket = "wayland-korvani";
  QTemporaryDir runtime_;
  QProcess process_;
  QString refusal_;
  QString xDisplay_;
};

// A desktop's sound server that never answers: its socket takes connections, and
// nothing reads them. Opening ALSA's default device through the pulse plugin then never
// returns. A server, not a file: the confined program may write no file outside its folder.
class StuckSoundServer {
 public:
  StuckSoundServer() {
    QFile config(folder_.filePath("asoundrc"));
    QFile cookie(folder_.filePath("cookie"));
    ready_ = server_.listen(folder_.filePath("native")) && config.open(QIODevice::WriteOnly) &&
             config.write("pcm.!default { type pulse }\n") > 0 &&
             cookie.open(QIODevice::WriteOnly) && cookie.write(QByteArray(256, '\0')) == 256;
  }
  bool IsReady() const { return ready_; }
  QStringList environment() const {
    return {"ALSA_CONFIG_PATH=" + folder_.filePath("asoundrc"),
            "PULSE_SERVER=unix:" + folder_.filePath("native"),
            "PULSE_COOKIE=" + folder_.filePath("cookie")};
  }

 private:
  QTemporaryDir folder_;
  QLocalServer server_;
  bool ready_ = false;
};

QImage ImageOf(const support::ScreenShot& shot) {
  QImage image(shot.width, shot.height, QImage::Format_RGB32);
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      image.setPixel(x, y, 0xFF000000U | shot.At(x, y));
    }
  }
  return image;
}

bool IsColoured(QRgb pixel) {
  return QColor(pixel).hsvSaturation() > 80;  // the window is grey but for its logo and bar
}

struct Span {
  int first = INT_MAX;
  int last = -1;
  bool isEmpty() const { return last < 0; }
};

// Where the bar's fill stands in `during`, seen against `full`, where the bar is
// filled to the end: the columns filled already, and those still to fill. Only the
// rows still to fill are looked at, so the logo, coloured in both, plays no part.
std::pair<Span, Span> FilledAndToFill(const QImage& during, const QImage& full) {
  QList<int> barRows;
  Span toFill;
  for (int y = 0; y < full.height(); ++y) {
    for (int x = 0; x < full.width(); ++x) {
      if (IsColoured(full.pixel(x, y)) && !IsColoured(during.pixel(x, y))) {
        toFill = {std::min(toFill.first, x), std::max(toFill.last, x)};
        if (barRows.isEmpty() || barRows.back() != y) {
          barRows.append(y);
        }
      }
    }
  }
  Span filled;
  for (const int y : barRows) {
    for (int x = 0; x < full.width(); ++x) {
      if (IsColoured(full.pixel(x, y)) && IsColoured(during.pixel(x, y))) {
        filled = {std::min(filled.first, x), std::max(filled.last, x)};
      }
    }
  }
  return {filled, toFill};
}

// When and where the display goes away.
struct DisplayDeath {
  bool wayland = false;      // the Wayland compositor, not the X server
  bool onFat = false;        // the program runs from a FAT stick: its unfinished file is named
  bool duringPause = false;  // after the fetch has returned, not while the package comes in
  // In a Wayland session, XWayland alone: the compositor lives on until the restart has
  // asked for the package, then goes too. The restart runs unseen, so the compositor's
  // end leaves it alone; had it shown on Wayland, that second loss would end it unsaved.
  bool xwaylandOnly = false;
};

}  // namespace

Q_DECLARE_METATYPE(DisplayDeath)

class DesktopsTest : public QObject {
  Q_OBJECT

  std::optional<e2e::PrivateDesktop> desktop_;
  // The compositor the Wayland rows share; the rows that end one start their own.
  std::optional<Weston> weston_;

 private slots:
  // The desktop's display is the one the program and this test's clients find in
  // $DISPLAY; this process itself stays on Qt's offscreen platform.
  void initTestCase() {
    QVERIFY(!e2e::ProgramBytes().isEmpty());
    if (const QString refusal = desktop_.emplace().refusal(); !refusal.isEmpty()) {
      QSKIP(qPrintable(refusal));
    }
    desktop_->BecomeTheDisplay();
  }
  void cleanupTestCase() {
    weston_.reset();
    desktop_.reset();
  }

  // A failed run rings the desktop's bell once, after the fetch; a saved one
  // never. Runs that cannot show a window go on unseen and still save.
  void endsQuietlyWhateverTheDesktop_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<bool>("stuckSound");
    QTest::addColumn<bool>("saved");

    QTest::newRow("X display, sound server that never answers")
        << QStringList{} << QStringList{} << true << true;
    QTest::newRow("no display at all") << QStringList{} << e2e::kNoDisplay << false << true;
    QTest::newRow("X display that nobody serves")
        << QStringList{} << QStringList{"DISPLAY=:4999", "WAYLAND_DISPLAY"} << false << true;
    QTest::newRow("QT_QPA_PLATFORM naming no plugin")
        << QStringList{} << QStringList{"QT_QPA_PLATFORM=nothing"} << false << true;
    // Two words: an OS family that no package is listed for.
    QTest::newRow("-platform nothing")
        << QStringList{"-platform", "nothing"} << QStringList{} << false << false;
  }

  void endsQuietlyWhateverTheDesktop() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(bool, stuckSound);
    QFETCH(bool, saved);
    const StuckSoundServer stuck;
    QVERIFY(stuck.IsReady());
    if (stuckSound) {
      environment.append(stuck.environment());
    }
    support::X11Client bells;
    QVERIFY2(bells.IsOpen() && bells.CountBells(), "no XKB on the X server");
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));

    ProgramRun run(host.HostAndPort(), {.arguments = arguments, .environment = environment});
    const QString fault = run.EndFault(kRunDeadlineMs);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    QCOMPARE(run.Saved(), saved);
    QCOMPARE(run.folder.Entries(), (QStringList{e2e::kPackage, e2e::kProgramName}));
    QCOMPARE(host.RequestLog().size(), saved ? 1 : 0);
    QCOMPARE(bells.TakeBells(), saved ? 0 : 1);
  }

  // Qt never sees "-reverse", so the bar keeps filling from the left.
  void reverseIsAWordNotALayout() {
    host::PackageHostProcess host({"--generate", "--fault", "trickle:200000"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    ProgramRun run(host.HostAndPort(), {.arguments = {"-reverse"}});
    support::X11Client x11;
    const auto window = x11.AwaitWindow(kTitle, kWindowDeadline);
    QVERIFY2(window, "the window never showed");
    const auto grab = [&] { return ImageOf(x11.Shot(*window)); };

    QList<QImage> during;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] { during.append(grab()); });
    sampler.start(100);
    QTRY_VERIFY_WITH_TIMEOUT(run.Saved() || run.Finished(), kRunDeadlineMs);
    sampler.stop();
    QVERIFY2(!run.Finished(), "the pause was over before the bar could be seen full");
    // The last state of the fetch is painted before the package is saved.
    const QImage full = grab();

    int partlyFilled = 0;
    for (const QImage& image : std::as_const(during)) {
      const auto [filled, toFill] = FilledAndToFill(image, full);
      if (!filled.isEmpty() && !toFill.isEmpty()) {
        ++partlyFilled;
        // Both ends of the fill lie left of the stretch still to fill; an edge column
        // may be partly painted.
        QVERIFY2(filled.first < toFill.first && filled.last < toFill.last,
                 qPrintable(QString("filled %1-%2, to fill %3-%4")
                                .arg(filled.first)
                                .arg(filled.last)
                                .arg(toFill.first)
                                .arg(toFill.last)));
      }
    }
    QVERIFY2(partlyFilled > 0, "no screenshot caught the bar part-way");
    const QString fault = run.EndFault(kRunDeadlineMs);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(run.Saved());
  }

  // The display goes away during the run. While the package trickles in, the run
  // starts over unseen in the same process and saves the package; once the fetch has
  // returned, the run ends at once, asking the host nothing more. Either way quietly,
  // with status 0 and nothing left behind, even where the unfinished file has a name.
  void displayThatGoesAway_data() {
    QTest::addColumn<DisplayDeath>("death");
    QTest::newRow("X server, mid-fetch") << DisplayDeath{};
    QTest::newRow("Wayland compositor, mid-fetch, no XWayland") << DisplayDeath{.wayland = true};
    QTest::newRow("XWayland alone, mid-fetch") << DisplayDeath{.xwaylandOnly = true};
    QTest::newRow("X server, mid-fetch, program on a FAT stick") << DisplayDeath{.onFat = true};
    QTest::newRow("X server, during the pause") << DisplayDeath{.duringPause = true};
  }

  void displayThatGoesAway() {
    QFETCH(DisplayDeath, death);
    std::optional<e2e::FatFolder> fat;
    if (death.onFat && !fat.emplace().Refusal().isEmpty()) {
      QSKIP(qPrintable("no FAT folder through FUSE: " + fat->Refusal()));
    }
    std::optional<e2e::PrivateXServer> x;
    std::optional<Weston> weston;
    const bool inWayland = death.wayland || death.xwaylandOnly;
    const QString refusal = inWayland ? weston.emplace().refusal() : x.emplace().refusal();
    if (!refusal.isEmpty()) {
      QSKIP(qPrintable(refusal));
    }
    const qint64 packageBytes =
        static_cast<qint64>(e2e::kChoice.expectedKilobytes.value_or(0)) * 1024;
    host::PackageHostProcess host(
        death.duringPause
            ? QStringList{"--generate"}
            : QStringList{"--generate", "--fault", "trickle:" + QString::number(packageBytes / 2)});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));

    ProgramRun run(host.HostAndPort(),
                   {.environment = inWayland ? weston->Session(death.xwaylandOnly)
                                             : QStringList{"DISPLAY=" + x->display(),
                                                           "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
                    .parentFolder = fat ? fat->Path() : QString()});
    if (!death.wayland) {
      // Gone before the server: Xlib would end this process with the connection.
      support::X11Client client((x ? x->display() : weston->xDisplay()).toLocal8Bit().constData());
      QVERIFY(client.IsOpen());
      QVERIFY2(client.AwaitWindow(kTitle, kWindowDeadline), "the window never showed");
    }
    if (death.duringPause) {
      QTRY_VERIFY_WITH_TIMEOUT(run.Saved(), kRunDeadlineMs);
      // The fetch returns right after the package is put in place; the pause lasts 2 s.
      QTest::qWait(300);
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(!host.RequestLog().isEmpty(), kRunDeadlineMs);
      QVERIFY(!run.Saved());
    }
    const qint64 killedAt = run.clock.elapsed();
    if (death.xwaylandOnly) {
      QVERIFY2(weston->KillXWayland(), "no XWayland to end");
      QTRY_COMPARE_WITH_TIMEOUT(host.RequestLog().size(), 2, kRunDeadlineMs);
      QVERIFY(!run.Saved());
      weston->Kill();
    } else {
      death.wayland ? weston->Kill() : x->Kill();
    }

    const QString fault = run.EndFault(kRunDeadlineMs);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(run.Saved());
    QCOMPARE(run.folder.Entries(), (QStringList{e2e::kPackage, e2e::kProgramName}));
    QCOMPARE(host.RequestLog().size(), death.duringPause ? 1 : 2);
    if (death.duringPause) {
      QVERIFY2(run.finishedAt - killedAt < 1000,
               qPrintable(QString("ended %1 ms after the display").arg(run.finishedAt - killedAt)));
    }
  }

  // As over ssh -X: the window reaches the display's TCP port, which the confined
  // program may connect to because $DISPLAY names a host.
  void showsOnAnXDisplayOverTcp() {
    e2e::PrivateXServer x(true);
    if (!x.refusal().isEmpty()) {
      QSKIP(qPrintable(x.refusal()));
    }
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
    ProgramRun run(host.HostAndPort(), {.environment = {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY",
                                                        "QT_QPA_PLATFORM"}});
    {
      support::X11Client client(x.display().toLocal8Bit().constData());
      QVERIFY(client.IsOpen());
      QVERIFY2(client.AwaitWindow(kTitle, kWindowDeadline), "the window never showed");
    }
    const QString fault = run.EndFault(kRunDeadlineMs);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(run.Saved());
  }

  void onWayland_data() {
    QTest::addColumn<bool>("withXWayland");
    QTest::newRow("XWayland beside: an X11 window there") << true;
    QTest::newRow("Wayland alone") << false;
  }

  void onWayland() {
    QFETCH(bool, withXWayland);
    const Weston& weston = weston_ ? *weston_ : weston_.emplace();
    if (!weston.refusal().isEmpty()) {
      QSKIP(qPrintable(weston.refusal()));
    }
    host::PackageHostProcess host({"--generate"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));

    ProgramRun run(host.HostAndPort(), {.environment = weston.Session(withXWayland)});
    if (withXWayland) {
      support::X11Client xwayland(weston.xDisplay().toLocal8Bit().constData());
      QVERIFY2(xwayland.IsOpen(), "XWayland's display cannot be reached");
      QVERIFY2(xwayland.AwaitWindow(kTitle, kWindowDeadline),
               "no X11 window on XWayland's display");
    }
    const QString fault = run.EndFault(kRunDeadlineMs);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(run.Saved());
  }
};

QTEST_MAIN(DesktopsTest)
#include "Desktops_test.moc"
