#pragma once

#include <QtTest>

#include "e2e/FaultCases.h"
#include "e2e/HttpsHost.h"
#include "e2e/RunFolder.h"
#include "support/host/PackageHostProcess.h"

namespace korvani::e2e {

// What a fault case leaves behind, in the test's process or in the program's own: the
// folder holds the program and the package alone, the package is the new one or the
// old one as the case expects, and each host saw the requests the case expects. Fails
// the running test where it differs; call it last.
inline void VerifyCaseEnd(const FaultCase& fault, const RunFolder& folder,
                          const host::PackageHostProcess& host, const HttpsHost& https) {
  const bool saved = fault.outcome == FaultCase::Outcome::Saved;
  QCOMPARE(folder.Entries(), (QStringList{kPackage, kProgramName}));
  if (!fault.destinationIsFolder) {
    QVERIFY(folder.Package() == (saved ? host::PackageHostProcess::PlaceholderPackage(kPackage)
                                       : RunFolder::OldPackage()));
  }
  if (fault.requests >= 0) {
    QCOMPARE(host.RequestLog().filter(" /downloads/").size(), fault.requests);
  }
  if (fault.https != FaultCase::Https::None) {
    // An origin is asked once whatever follows; a host redirected to, only when it serves.
    QCOMPARE(https.Requests(), saved || https.IsOrigin() ? 1 : 0);
    QCOMPARE(https.DowngradedRequests(), 0);
  }
}

}  // namespace korvani::e2e
