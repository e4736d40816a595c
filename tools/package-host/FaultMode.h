#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvani::packagehost {

// How the host answers every request for a known package: normally, or with one of the
// failures a downloader has to survive.
enum class FaultKind {
  None,          // 200 and the whole file
  Status,        // `status`, with a small HTML error page
  Short,         // full Content-Length, about half the body, then the connection closes
  ChunkedShort,  // chunked, about half the body, then a close without the last chunk
  Stall,         // the first 64 KiB, `seconds` of silence, then the rest
  Empty,         // 200 with Content-Length: 0
  Redirect,      // 302 to /moved/<name>, which serves the file
  RedirectFile,  // 302 to file:///etc/hostname
  RedirectLoop,  // 302 to the same target, forever
  RedirectTo,    // 302 to `baseUrl` + "/downloads/<name>", another host's
  DelayHeaders,  // `seconds` before a normal answer
  Trickle,       // the whole file, paced to `bytesPerSecond`
  FlipByte,      // 200 and the whole file, its middle byte inverted
  Portal,        // 200 and a captive portal's sign-in page (HTML, about 5 KB) instead
};

struct FaultMode {
  FaultKind kind = FaultKind::None;
  int status = 0;
  double seconds = 0;
  std::uint64_t bytesPerSecond = 0;
  std::string baseUrl;
};

// Reads "none", "status:CODE" (200-599), "short", "chunked-short", "stall:SECONDS",
// "empty", "redirect", "redirect-file", "redirect-loop", "redirect-to:BASEURL",
// "delay-headers:SECONDS", "trickle:BYTES_PER_SECOND", "flip-byte" or "portal". SECONDS
// may have a fraction;
// BASEURL is taken as it is. Nothing for anything else.
std::optional<FaultMode> ParseFaultMode(std::string_view text);

}  // namespace korvani::packagehost
