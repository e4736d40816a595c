#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "transfer/Sha256.h"

namespace korvani::transfer {

// The SHA-256 of a stream, computed on a thread of its own while the caller goes on
// receiving: the caller only copies each piece into a block, and the digest of 64 MiB
// costs its thread a few milliseconds instead of tens. At most a few blocks wait at a
// time; a caller that outruns the digest waits for a free one.
class BackgroundSha256 {
 public:
  // Throws std::system_error when no thread can be started, std::runtime_error when
  // libcrypto cannot start a digest.
  BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;
  // Abandons the digest: the thread drops what is still waiting and ends.
  ~BackgroundSha256();

  void Update(std::span<const std::byte> bytes);
  // The digest of everything fed so far, as 64 lower-case hex digits, once the thread has
  // digested it all. Ends the stream: call it once. Throws std::runtime_error when
  // libcrypto failed.
  std::string HexDigest();

 private:
  using Block = std::vector<std::byte>;

  void HandOver(Block block);
  Block TakeFreeBlock();
  void DigestBlocks();

  Sha256 digest_;  // touched by the thread only, once it runs
  Block filling_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> full_;
  std::vector<Block> free_;
  bool ending_ = false;
  bool done_ = false;
  std::optional<std::string> failure_;

  std::thread thread_;  // last: started once everything it reads is there
};

}  // namespace korvani::transfer
