#include "startup/SilentOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANI_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVANI_SANITIZED 1
#endif

#if defined(KORVANI_SANITIZED)
#include <sanitizer/common_interface_defs.h>

#include <cstdint>
#endif

namespace korvani::startup {
namespace {

#if defined(KORVANI_SANITIZED)
// Where the sanitizers report. Never closed: LeakSanitizer reports at the very end of
// the process, after every destructor has run.
int gReports = -1;

// AddressSanitizer's runtime, and with clang the UndefinedBehaviorSanitizer it carries.
// GCC links the latter as a library of its own (libubsan), which sets up its report
// file only at its first report, to standard error: its message is lost, but the abort
// that follows (-fno-sanitize-recover) still ends the run for all to see. It is not
// handed the copy, which it would close as it sets up.
void KeepSanitizerReports() {
  gReports = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (gReports >= 0) {
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(gReports)));
  }
}
#endif

}  // namespace

void SilenceOutput() {
  // A standard stream the process was started without takes /dev/null first, so that no
  // file opened later takes its number and gets what a library prints.
  platform::UniqueFd null;
  while (!null.IsOpen()) {
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened < 0) {
      return;
    }
    if (opened > STDERR_FILENO) {
      null = platform::UniqueFd(opened);
    }
  }
#if defined(KORVANI_SANITIZED)
  KeepSanitizerReports();
#endif
  ::dup2(null.Get(), STDOUT_FILENO);
  ::dup2(null.Get(), STDERR_FILENO);
}

void RestoreErrorsForExec() {
#if defined(KORVANI_SANITIZED)
  if (gReports >= 0) {
    ::dup2(gReports, STDERR_FILENO);
  }
#endif
}

}  // namespace korvani::startup
