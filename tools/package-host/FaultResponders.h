#pragma once

#include <httplib.h>

#include <string>
#include <utility>

#include "FaultMode.h"
#include "PackageStore.h"
#include "StopSignal.h"

namespace korvani::packagehost {

// 200, Content-Length and the whole file. Ends early, closing the connection, once the
// host is stopping.
void ServeWhole(PackageStore::Bytes bytes, const StopSignal& stop, httplib::Response& response);

// Answers a request for the known package `name` as the fault mode says. Waits on `stop`
// wherever it holds the answer back, so stopping the host ends every wait at once.
class FaultResponder {
 public:
  FaultResponder(FaultMode mode, const StopSignal& stop) : mode_(std::move(mode)), stop_(stop) {}

  void Answer(const httplib::Request& request, const std::string& name, PackageStore::Bytes bytes,
              httplib::Response& response) const;

 private:
  FaultMode mode_;
  const StopSignal& stop_;
};

// `text` with every byte outside A-Z, a-z, 0-9 and "-._~" written as %XX, so a name can
// go back into a URL.
std::string PercentEncoded(const std::string& text);

}  // namespace korvani::packagehost
