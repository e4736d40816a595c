#pragma once

#include <QLabel>
#include <QProgressBar>
#include <chrono>
#include <string>

#include "startup/Settings.h"
#include "support/ScopedEnvironment.h"
#include "support/fakes/FakeServices.h"
#include "support/fakes/FakeWindowStacking.h"
#include "window/frmDownload.h"

namespace korvani::support {

// What a WindowRig differs in from its defaults.
struct WindowOptions {
  std::string osFamily = "xp";
  std::string language = "en";
  fakes::FakeHttpScript script{};
  // How far the fake clock moves per reading, so that the pause ends after a
  // handful of passes.
  std::chrono::nanoseconds clockStep = std::chrono::milliseconds(250);
  // "NAME=VALUE" for the window's life, put back when the rig goes.
  QStringList environment{"KORVANI_PACKAGE_HOST=packages.test"};
  // Stand-ins of the test's own, or real services; null keeps the fake.
  platform::HttpClient* http = nullptr;
  // A real client needs a real wait (DesktopEventWait, as the program has): the
  // fake one never finds a socket ready.
  platform::EventWait* wait = nullptr;
  platform::Sound* sound = nullptr;
  platform::FileSystem* files = nullptr;
  const platform::Clock* clock = nullptr;
  platform::WindowStacking* stacking = nullptr;
};

// The download window in this process, on fakes of every service it uses unless
// the test hands in its own; the fakes log into one EventLog.
struct WindowRig : fakes::FakeServices {
  using Options = WindowOptions;

  fakes::FakeWindowStacking fakeStacking{log};
  ScopedEnvironment environment;  // before the form, which reads it
  window::frmDownload form;

  explicit WindowRig(Options options = {})
      : FakeServices(std::move(options.script)),
        environment(options.environment),
        form(window::WindowServices{
            {Pick<platform::HttpClient>(options.http, http),
             Pick<platform::Sound>(options.sound, sound),
             Pick<platform::FileSystem>(options.files, files),
             Pick<const platform::Clock>(options.clock, clock),
             Pick<platform::EventWait>(options.wait, wait)},
            Pick<platform::WindowStacking>(options.stacking, fakeStacking)}) {
    clock.autoAdvance = options.clockStep;
    startup::gstrOSFamily = options.osFamily;
    startup::gstrLanguage = options.language;
  }

  template <typename Control = QWidget>
  Control* Find(const QString& name) const {
    return form.findChild<Control*>(name);
  }
  QString Progress() const { return Find<QLabel>("lblProgress")->text(); }
  const QProgressBar& Bar() const { return *Find<QProgressBar>("pgbDownload"); }

 private:
  template <typename Service, typename Fake>
  static Service& Pick(Service* given, Fake& fake) {
    return given != nullptr ? *given : fake;
  }
};

}  // namespace korvani::support
