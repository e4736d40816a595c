#pragma once

#include <fstream>
#include <mutex>
#include <string>

namespace korvani::packagehost {

// Appends one line per request, "<METHOD> <target> <User-Agent>", flushed at once so a
// test can read what arrived while the host still runs. Safe to use from every worker.
class RequestLog {
 public:
  // Opens `path` for appending; check Opened() before use.
  explicit RequestLog(const std::string& path);

  bool Opened() const { return file_.is_open(); }
  void Append(const std::string& method, const std::string& target, const std::string& userAgent);

 private:
  std::mutex mutex_;
  std::ofstream file_;
};

}  // namespace korvani::packagehost
