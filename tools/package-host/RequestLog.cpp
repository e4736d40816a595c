#include "RequestLog.h"

namespace korvani::packagehost {

RequestLog::RequestLog(const std::string& path) : file_(path, std::ios::app) {}

void RequestLog::Append(const std::string& method, const std::string& target,
                        const std::string& userAgent) {
  const std::lock_guard lock(mutex_);
  file_ << method << ' ' << target << ' ' << userAgent << '\n' << std::flush;
}

}  // namespace korvani::packagehost
