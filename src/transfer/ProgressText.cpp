#include "transfer/ProgressText.h"

namespace korvani::transfer {

namespace {

constexpr std::uint64_t kBytesPerKilobyte = 1024;

}  // namespace

std::string DownloadingText(std::uint64_t bytesReceived) {
  // Integer rounding stays exact for every count, where a double would not.
  const std::uint64_t kilobytes =
      bytesReceived / kBytesPerKilobyte +
      (bytesReceived % kBytesPerKilobyte >= kBytesPerKilobyte / 2 ? 1 : 0);
  return "Downloading ... " + std::to_string(kilobytes) + " KB";
}

float BarKilobytes(std::uint64_t bytesReceived) {
  return static_cast<float>(static_cast<double>(bytesReceived) / kBytesPerKilobyte);
}

}  // namespace korvani::transfer
