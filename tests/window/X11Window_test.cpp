// The download window on a real X server under a window manager: what the
// window manager is asked for and gives, where the window stands, and what the
// screen shows. Needs $DISPLAY with a window manager running (scripts/test
// provides both).
#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <functional>

#include "platform/WindowStacking.h"
#include "support/WindowRig.h"
#include "support/X11Client.h"
#include "window/WindowLook.h"

using namespace korvani;
using namespace std::chrono_literals;

namespace {

const std::string kState = "_NET_WM_STATE";
const std::string kAbove = "_NET_WM_STATE_ABOVE";
constexpr std::chrono::seconds kWindowManagerDeadline{5};

// Real stacking, with a look at the window each time its state is set.
class ProbingStacking : public platform::WindowStacking {
 public:
  std::function<void(WId, bool)> probe;
  void SetTopmost(WId window, bool topmost) override {
    real_.SetTopmost(window, topmost);
    if (probe) {
      probe(window, topmost);
    }
  }

 private:
  platform::X11WindowStacking real_;
};

// A run of the window with a failing fetch, on fakes but the stacking.
struct WindowRun {
  ProbingStacking stacking;
  support::WindowRig rig{
      {.script = {.openUrlFails = true}, .clockStep = 100ms, .stacking = &stacking}};
  window::frmDownload& form = rig.form;
  fakes::FakeClock& clock = rig.clock;
};

}  // namespace

class X11WindowTest : public QObject {
  Q_OBJECT

  support::X11Client x11_;

 private slots:
  void initTestCase() {
    QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    QVERIFY(x11_.IsOpen());
  }

  void windowManagerKeepsItFixedAndOnTop() {
    WindowRun run;
    support::SizeLimits limits;
    std::vector<long> motif;
    std::vector<std::string> allowed;
    bool aboveOn = false;
    bool aboveOff = false;
    QImage shot;
    QPoint position;
    bool clearRequested = false;
    run.stacking.probe = [&](WId window, bool topmost) {
      if (topmost) {
        limits = x11_.SizeLimitsOf(window);
        motif = x11_.Cardinals(window, "_MOTIF_WM_HINTS");
        aboveOn = x11_.Await([&] { return x11_.HasAtom(window, kState, kAbove); },
                             kWindowManagerDeadline);
        allowed = x11_.Atoms(window, "_NET_WM_ALLOWED_ACTIONS");
        position = run.form.geometry().topLeft();
        shot = run.form.screen()->grabWindow(window).toImage();
      } else {
        clearRequested = true;
        aboveOff = x11_.Await([&] { return !x11_.HasAtom(window, kState, kAbove); },
                              kWindowManagerDeadline);
      }
    };
    run.form.Load();

    QCOMPARE(limits.minWidth, 498);
    QCOMPARE(limits.minHeight, 360);
    QCOMPARE(limits.maxWidth, 498);
    QCOMPARE(limits.maxHeight, 360);
    // _MOTIF_WM_HINTS: flags, functions, decorations. Minimise is 0x8 and
    // maximise 0x10 among the functions, 0x20 and 0x40 among the decorations.
    QCOMPARE(motif.size(), std::size_t{5});
    QCOMPARE(motif[0] & 0x3, 0x3L);
    QCOMPARE(motif[1] & 0x18, 0L);
    QCOMPARE(motif[2] & 0x60, 0L);
    QVERIFY(aboveOn);
    // Awaited only once the unload asked for it: a state never set off reads the same.
    QVERIFY(clearRequested);
    QVERIFY(aboveOff);
    for (const char* action : {"_NET_WM_ACTION_MAXIMIZE", "_NET_WM_ACTION_RESIZE"}) {
      QVERIFY2(std::find(allowed.begin(), allowed.end(), action) == allowed.end(), action);
    }

    const QRect screen = run.form.screen()->availableGeometry();
    QCOMPARE(position + QPoint(249, 180), screen.center() + QPoint(1, 1));

    // What the screen showed before the fetch wrote anything.
    shot.save(QDir::current().filePath("X11Window_test-shown.png"));
    QCOMPARE(shot.size(), QSize(498, 360));
    const QColor white(Qt::white);
    const QColor text = QApplication::palette().color(QPalette::Text);
    QCOMPARE(shot.pixelColor(2, 2), white);
    QCOMPARE(shot.pixelColor(432, 0), white);  // the logo's edge
    QVERIFY(shot.pixelColor(442, 27) != white);
    for (int y : {56, 312}) {
      QCOMPARE(shot.pixelColor(0, y), text);
      QCOMPARE(shot.pixelColor(495, y), text);
      QVERIFY(shot.pixelColor(496, y) != text);
    }
    // The button's and the bar's frames lie where they were laid out.
    QVERIFY(shot.pixelColor(407, 332) != shot.pixelColor(409, 332));
    QVERIFY(shot.pixelColor(39, 160) != shot.pixelColor(41, 160));
  }

  // Another program's always-on-top window, activated during the pause, is
  // behind ours again at once.
  void pauseWinsBackTheFront() {
    WindowRun run;
    run.clock.autoAdvance = 0ns;  // the pause ends when the test closes the window
    std::optional<support::XWindow> rival;
    bool rivalInFront = false;
    bool oursInFront = false;
    QSocketNotifier stackingChanged(x11_.Fd(), QSocketNotifier::Read);
    stackingChanged.setEnabled(false);
    run.stacking.probe = [&](WId ours, bool topmost) {
      if (!topmost) {
        return;
      }
      rival = x11_.OpenWindow("rival", 300, 250, 600, 500);
      if (!rival) {
        return;
      }
      x11_.KeepAboveAndActivate(*rival);
      rivalInFront =
          x11_.Await([&] { return x11_.StandsAbove(*rival, ours); }, kWindowManagerDeadline);
      // The pause handles events: once the stacking shows ours in front, it is over.
      const auto look = [&, ours] {
        x11_.HandleEvents();
        if (x11_.StandsAbove(ours, *rival)) {
          oursInFront = true;
          run.form.close();
        }
      };
      connect(&stackingChanged, &QSocketNotifier::activated, &run.form, look);
      stackingChanged.setEnabled(true);
      QTimer::singleShot(0, &run.form, look);
      QTimer::singleShot(kWindowManagerDeadline, &run.form, [&] { run.form.close(); });
    };
    run.form.Load();
    stackingChanged.setEnabled(false);
    if (rival) {
      x11_.Destroy(*rival);
    }

    QVERIFY2(rival, "the rival window was never managed");
    QVERIFY2(rivalInFront, "the rival never came in front");
    QVERIFY2(oursInFront, "the pause left the rival in front");
  }

  // Under a dark scheme the banner stays white and its two texts stay dark on
  // it, as the screen shows them. Run with QT_QPA_PLATFORMTHEME=gtk3 and
  // GTK_THEME=Adwaita:dark, the scheme is GTK's; otherwise a dark palette.
  void bannerReadableUnderADarkScheme() {
    const QPalette desktop = QApplication::palette();
    const bool gtk = qgetenv("QT_QPA_PLATFORMTHEME") == "gtk3";
    if (gtk && desktop.color(QPalette::ButtonText).lightness() < 128) {
      QSKIP("the GTK platform theme gives no dark scheme here");
    }
    if (!gtk) {
      QPalette dark;
      dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
      dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
      dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xec));
      dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xec));
      dark.setColor(QPalette::Base, QColor(0x2d, 0x2d, 0x2d));
      dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xec));
      QApplication::setPalette(dark);
    }
    WindowRun run;
    QImage shot;
    run.stacking.probe = [&](WId window, bool topmost) {
      if (topmost) {
        shot = run.form.screen()->grabWindow(window).toImage();
      }
    };
    run.form.Load();
    QApplication::setPalette(desktop);
    shot.save(
        QDir::current().filePath(QString("X11Window_test-dark%1.png").arg(gtk ? "-gtk" : "")));

    QCOMPARE(shot.pixelColor(2, 2), QColor(Qt::white));
    for (const QRect& text : {QRect(24, 8, 81, 13), QRect(40, 24, 124, 13)}) {
      QColor ink = Qt::white;
      for (int y = text.top(); y <= text.bottom(); ++y) {
        for (int x = text.left(); x <= text.right(); ++x) {
          if (shot.pixelColor(x, y).lightness() < ink.lightness()) {
            ink = shot.pixelColor(x, y);
          }
        }
      }
      const double contrast = window::ContrastRatio(ink, Qt::white);
      QVERIFY2(contrast >= 4.5, qPrintable(QString("%1: %2").arg(ink.name()).arg(contrast)));
    }
  }

  // Positions are in device-independent pixels: at scale 2 everything doubles.
  void scalesOnADenseScreen() {
    if (qgetenv("QT_SCALE_FACTOR") != "2") {
      QSKIP("run with QT_SCALE_FACTOR=2");
    }
    WindowRun run;
    std::pair<int, int> size;
    QImage shot;
    run.stacking.probe = [&](WId window, bool topmost) {
      if (topmost) {
        size = x11_.Size(window);
        shot = run.form.screen()->grabWindow(window).toImage();
      }
    };
    run.form.Load();
    QCOMPARE(size, (std::pair{996, 720}));
    shot.save(QDir::current().filePath("X11Window_test-scaled.png"));
    const QColor text = QApplication::palette().color(QPalette::Text);
    QCOMPARE(shot.pixelColor(0, 112), text);  // lnTop at twice y = 56
    QCOMPARE(shot.pixelColor(0, 624), text);  // lnBottom at twice y = 312
  }
};

QTEST_MAIN(X11WindowTest)
#include "X11Window_test.moc"
