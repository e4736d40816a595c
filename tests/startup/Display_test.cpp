#include "startup/Display.h"

#include <QtTest>

using korvani::startup::ChoosePlatform;
using korvani::startup::DisplayEnvironment;

Q_DECLARE_METATYPE(DisplayEnvironment)

class DisplayTest : public QObject {
  Q_OBJECT

 private slots:
  void choosesWhereTheWindowCanShowAndNeverNothing_data() {
    QTest::addColumn<DisplayEnvironment>("environment");
    QTest::addColumn<QString>("platforms");
    const std::string runtime = "/run/user/1000";

    QTest::newRow("X display") << DisplayEnvironment{.display = ":0"} << "xcb;offscreen";
    QTest::newRow("X and Wayland: X, where the window stays on top")
        << DisplayEnvironment{.display = ":1", .waylandDisplay = "wayland-0", .runtimeDir = runtime}
        << "xcb;wayland;offscreen";
    QTest::newRow("Wayland only") << DisplayEnvironment{.waylandDisplay = "wayland-0",
                                                        .runtimeDir = runtime}
                                  << "wayland;offscreen";
    QTest::newRow("Wayland socket by path, no runtime folder")
        << DisplayEnvironment{.waylandDisplay = "/tmp/w/wayland-1"} << "wayland;offscreen";
    QTest::newRow("Wayland socket name, no runtime folder")
        << DisplayEnvironment{.waylandDisplay = "wayland-0"} << "offscreen";
    QTest::newRow("Wayland socket name, relative runtime folder")
        << DisplayEnvironment{.waylandDisplay = "wayland-0", .runtimeDir = "run"} << "offscreen";
    QTest::newRow("runtime folder alone is no display")
        << DisplayEnvironment{.runtimeDir = runtime} << "offscreen";
    QTest::newRow("no display") << DisplayEnvironment{} << "offscreen";

    QTest::newRow("user's platform first, even a missing one")
        << DisplayEnvironment{.qtPlatform = "nothing", .display = ":0"} << "nothing;offscreen";
    QTest::newRow("user's list with arguments and empty entries")
        << DisplayEnvironment{.qtPlatform = ";xcb:nograb;;vnc:size=800x600;"}
        << "xcb:nograb;vnc:size=800x600;offscreen";
    QTest::newRow("user's list already ending offscreen")
        << DisplayEnvironment{.qtPlatform = "xcb;offscreen:fontengine=freetype"}
        << "xcb;offscreen:fontengine=freetype";
    QTest::newRow("user's Wayland with a runtime folder")
        << DisplayEnvironment{.qtPlatform = "wayland-egl", .runtimeDir = runtime}
        << "wayland-egl;offscreen";
    QTest::newRow("user's Wayland without a socket to locate")
        << DisplayEnvironment{.qtPlatform = "wayland;xcb", .display = ":0"} << "xcb;offscreen";
  }

  void choosesWhereTheWindowCanShowAndNeverNothing() {
    QFETCH(DisplayEnvironment, environment);
    QFETCH(QString, platforms);
    QCOMPARE(QString::fromStdString(ChoosePlatform(environment)), platforms);
  }
};

QTEST_APPLESS_MAIN(DisplayTest)
#include "Display_test.moc"
