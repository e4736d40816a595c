#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <chrono>

#include "support/ChildProcess.h"
#include "support/X11Client.h"

namespace korvani::e2e {

// An X server of the test's own (Xvfb), which the test can take away; reached over TCP
// on loopback, as ssh -X forwards one, when `overTcp`.
class PrivateXServer {
 public:
  explicit PrivateXServer(bool overTcp = false) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
      refusal_ = "Xvfb is not installed";
      return;
    }
    // Xvfb picks a free display and names it on the descriptor given.
    process_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24",
                            overTcp ? "-listen" : "-nolisten", "tcp"});
    const bool named = QTest::qWaitFor(
        [&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; }, 10000);
    if (!named || !process_.canReadLine()) {
      refusal_ = "Xvfb did not start";
      return;
    }
    display_ = (overTcp ? "127.0.0.1:" : ":") + QString::fromLatin1(process_.readLine()).trimmed();
  }
  ~PrivateXServer() { Kill(); }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // Why there is no server; empty when it runs.
  QString refusal() const { return refusal_; }
  QString display() const { return display_; }
  // Ends the server at once, as a crash would.
  void Kill() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

 private:
  QProcess process_;
  QString refusal_;
  QString display_;
};

// An X server with a window manager (openbox), for a test's runs that show the window on a
// desktop: one for the whole test file, which then takes no turns on the suite's display.
class PrivateDesktop {
 public:
  PrivateDesktop() {
    refusal_ = server_.refusal();
    if (!refusal_.isEmpty()) {
      return;
    }
    if (QStandardPaths::findExecutable("openbox").isEmpty()) {
      refusal_ = "openbox is not installed";
      return;
    }
    manager_.setProcessEnvironment(support::EnvironmentWith({"DISPLAY=" + server_.display()}));
    manager_.start("openbox", {});
    support::X11Client client(server_.display().toLocal8Bit().constData());
    if (!client.IsOpen() ||
        !client.Await([&] { return client.WindowManagerRuns(); }, std::chrono::seconds(10))) {
      refusal_ = "openbox did not start: " + QString::fromLocal8Bit(manager_.readAll());
    }
  }
  ~PrivateDesktop() { support::Stop(manager_); }
  PrivateDesktop(const PrivateDesktop&) = delete;
  PrivateDesktop& operator=(const PrivateDesktop&) = delete;

  // Why there is no desktop; empty when it runs.
  QString refusal() const { return refusal_; }
  QString display() const { return server_.display(); }

  // Makes this the desktop that the program and the test's own X clients find in
  // $DISPLAY; the test's process itself stays on Qt's offscreen platform.
  void BecomeTheDisplay() const {
    qputenv("DISPLAY", display().toLocal8Bit());
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("QT_QPA_PLATFORM");
  }

 private:
  PrivateXServer server_;
  QProcess manager_;
  QString refusal_;
};

}  // namespace korvani::e2e
