// The download window on a real X server under a window manager: what the
// window manager is asked for and gives, where the window stands, and what the
// screen shows. Needs $DISPLAY with a window manager running (scripts/test
// provides both).
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <functional>

#include "platform/WindowStacking.h"
#include "support/ChildProcess.h"
#include "support/WindowRig.h"
#include "window/WindowLook.h"

using namespace korvani;
using support::Output;
using namespace std::chrono_literals;

namespace {

QString Property(WId window, const QString& name) {
  return Output("xprop", {"-id", QString::number(window), name});
}

// Waits, up to a deadline, for the window manager to show what `holds` expects.
bool AwaitProperty(WId window, const QString& name, const std::function<bool(QString)>& holds) {
  const QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired()) {
    if (holds(Property(window, name))) {
      return true;
    }
    QThread::msleep(20);  // xprop is another process: there is nothing to wait on
  }
  return false;
}

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
  fakes::FakeClock& clock = rig.fakeClock;
};

}  // namespace

class X11WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != "xcb") {
      QSKIP("needs an X server");
    }
  }

  void windowManagerKeepsItFixedAndOnTop() {
    WindowRun run;
    QString hints, motif, allowed, stateOn, stateOff;
    QImage shot;
    QPoint position;
    bool clearRequested = false;
    run.stacking.probe = [&](WId window, bool topmost) {
      if (topmost) {
        hints = Property(window, "WM_NORMAL_HINTS");
        motif = Property(window, "_MOTIF_WM_HINTS");
        AwaitProperty(window, "_NET_WM_STATE",
                      [](const QString& s) { return s.contains("_NET_WM_STATE_ABOVE"); });
        stateOn = Property(window, "_NET_WM_STATE");
        allowed = Property(window, "_NET_WM_ALLOWED_ACTIONS");
        position = run.form.geometry().topLeft();
        shot = run.form.screen()->grabWindow(window).toImage();
      } else {
        clearRequested = true;
        AwaitProperty(window, "_NET_WM_STATE",
                      [](const QString& s) { return !s.contains("_NET_WM_STATE_ABOVE"); });
        stateOff = Property(window, "_NET_WM_STATE");
      }
    };
    run.form.Load();

    QVERIFY2(hints.contains("program specified minimum size: 498 by 360"), qPrintable(hints));
    QVERIFY2(hints.contains("program specified maximum size: 498 by 360"), qPrintable(hints));
    // _MOTIF_WM_HINTS: flags, functions, decorations. Minimise is 0x8 and
    // maximise 0x10 among the functions, 0x20 and 0x40 among the decorations.
    const QStringList fields = motif.section('=', 1).split(',', Qt::SkipEmptyParts);
    QCOMPARE(fields.size(), 5);
    bool ok = false;
    QCOMPARE(fields[0].trimmed().toUInt(&ok, 16) & 0x3, 0x3U);
    QCOMPARE(fields[1].trimmed().toUInt(&ok, 16) & 0x18, 0U);
    QCOMPARE(fields[2].trimmed().toUInt(&ok, 16) & 0x60, 0U);
    QVERIFY2(stateOn.contains("_NET_WM_STATE_ABOVE"), qPrintable(stateOn));
    // Read only once the unload asked for it: a state never set off reads empty too.
    QVERIFY(clearRequested);
    QVERIFY2(!stateOff.contains("_NET_WM_STATE_ABOVE"), qPrintable(stateOff));
    QVERIFY2(!allowed.contains("_NET_WM_ACTION_MAXIMIZE"), qPrintable(allowed));
    QVERIFY2(!allowed.contains("_NET_WM_ACTION_RESIZE"), qPrintable(allowed));

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
    QProcess rival;
    QString stacking;
    WId oursId = 0;
    run.stacking.probe = [&](WId, bool topmost) {
      if (!topmost) {
        return;
      }
      rival.start("xmessage", {"-title", "rival", "-geometry", "600x500+300+250", "rival"});
      // Both run inside the pause, which processes events.
      QTimer::singleShot(500, &run.form, [&] {
        QProcess::execute("wmctrl", {"-r", "rival", "-b", "add,above"});
        QProcess::execute("wmctrl", {"-a", "rival"});
      });
      QTimer::singleShot(800, &run.form, [&] {
        stacking = Output("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
        oursId = run.form.winId();
        run.form.close();
      });
    };
    run.form.Load();
    const WId rivalId = Output("xdotool", {"search", "--name", "^rival$"}).toULong();
    rival.kill();
    rival.waitForFinished(5000);

    const QStringList order = stacking.section('#', 1).split(',', Qt::SkipEmptyParts);
    int ours = -1, theirs = -1;
    for (int i = 0; i < order.size(); ++i) {
      const WId id = order[i].trimmed().toULong(nullptr, 0);
      ours = id == oursId ? i : ours;
      theirs = id == rivalId ? i : theirs;
    }
    QVERIFY2(ours >= 0 && theirs >= 0, qPrintable(stacking));
    QVERIFY2(ours > theirs, qPrintable(stacking));  // later in the list is further up
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
    QString geometry;
    QImage shot;
    run.stacking.probe = [&](WId window, bool topmost) {
      if (topmost) {
        geometry = Output("xwininfo", {"-id", QString::number(window)});
        shot = run.form.screen()->grabWindow(window).toImage();
      }
    };
    run.form.Load();
    QVERIFY2(geometry.contains("Width: 996"), qPrintable(geometry));
    QVERIFY2(geometry.contains("Height: 720"), qPrintable(geometry));
    shot.save(QDir::current().filePath("X11Window_test-scaled.png"));
    const QColor text = QApplication::palette().color(QPalette::Text);
    QCOMPARE(shot.pixelColor(0, 112), text);  // lnTop at twice y = 56
    QCOMPARE(shot.pixelColor(0, 624), text);  // lnBottom at twice y = 312
  }
};

// Without an X display Qt cannot start its X platform and would abort: the test is
// skipped instead, with the exit status tests/window/CMakeLists.txt tells CTest means a skip.
int main(int argc, char** argv) {
  constexpr int kSkipExitCode = 77;
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    std::fputs("SKIP: X11Window_test needs an X server with a window manager in $DISPLAY\n",
               stderr);
    return kSkipExitCode;
  }
  QApplication application(argc, argv);
  X11WindowTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "X11Window_test.moc"
