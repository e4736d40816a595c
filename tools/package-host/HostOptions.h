#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "FaultMode.h"

namespace korvani::packagehost {

struct HostOptions {
  // A loopback address: a second host may take another's port on 127.0.0.2, so that
  // a confined client, which reaches one port only, can be redirected from one to the other.
  std::string address = "127.0.0.1";
  int port = 0;  // 0: the system picks a free one
  std::string folder;
  bool generateCatalogue = false;
  std::vector<std::pair<std::string, std::size_t>> generatedFiles;  // name, bytes
  FaultMode fault;
  std::string logFile;
  // Where to write the SHA256SUMS of what is served, before serving; empty: nowhere.
  std::string sumsFile;
  // Both set: HTTPS with this certificate (PEM, chain allowed) and key instead of HTTP.
  std::string tlsCertificate;
  std::string tlsKey;
};

// Fills `options` from the command line. On a mistake, returns false and says why in
// `error`.
bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

// What the command line accepts, for --help and mistakes.
extern const char* const kHostUsage;

}  // namespace korvani::packagehost
