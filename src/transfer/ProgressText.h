#pragma once

#include <cstdint>
#include <string>

namespace korvani::transfer {

// What the progress label and the bar show while the fetch runs, from the number of
// bytes received. The size of the saved package is in SizeText.h.

// Shown while the client session and the URL are being opened.
inline constexpr char kConnectingText[] = "Connecting ... ";

// "Downloading ... 8 KB": the kilobytes received (1024 bytes each), rounded
// half away from zero, in plain digits.
std::string DownloadingText(std::uint64_t bytesReceived);

// The bar's position: kilobytes received, not rounded.
float BarKilobytes(std::uint64_t bytesReceived);

}  // namespace korvani::transfer
