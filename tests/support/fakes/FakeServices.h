#pragma once

#include <utility>

#include "support/fakes/EventLog.h"
#include "support/fakes/FakeClock.h"
#include "support/fakes/FakeEventWait.h"
#include "support/fakes/FakeFileSystem.h"
#include "support/fakes/FakeHttpClient.h"
#include "support/fakes/FakeSound.h"
#include "transfer/DownloadFile.h"

namespace korvani::fakes {

// A fake of every service the fetch uses, all logging into one EventLog, so that
// a test can check the order of everything they were asked to do.
struct FakeServices {
  explicit FakeServices(FakeHttpScript script = {}) : http(log, std::move(script)) {}
  FakeServices(const FakeServices&) = delete;
  FakeServices& operator=(const FakeServices&) = delete;

  transfer::TransferServices Transfer() { return {http, sound, files, clock, wait}; }

  EventLog log;
  FakeHttpClient http;
  FakeSound sound{log};
  FakeFileSystem files{log};
  FakeClock clock;
  FakeEventWait wait{clock};
};

}  // namespace korvani::fakes
