#include "transfer/BackgroundSha256.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace korvani::transfer {
namespace {

// Large enough that handing a block over costs nothing next to digesting it, small
// enough that all of them together stay at 1 MiB.
constexpr std::size_t kBlockBytes = std::size_t{256} << 10U;
constexpr std::size_t kBlocks = 4;

}  // namespace

BackgroundSha256::BackgroundSha256() {
  filling_.reserve(kBlockBytes);
  for (std::size_t i = 1; i < kBlocks; ++i) {
    free_.emplace_back().reserve(kBlockBytes);
  }
  thread_ = std::thread([this] { DigestBlocks(); });
}

BackgroundSha256::~BackgroundSha256() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
    full_.clear();
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundSha256::Update(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const std::size_t room = kBlockBytes - filling_.size();
    const std::size_t count = std::min(room, bytes.size());
    filling_.insert(filling_.end(), bytes.begin(), bytes.begin() + static_cast<long>(count));
    bytes = bytes.subspan(count);
    if (filling_.size() == kBlockBytes) {
      HandOver(std::exchange(filling_, TakeFreeBlock()));
    }
  }
}

std::string BackgroundSha256::HexDigest() {
  if (!filling_.empty()) {
    HandOver(std::move(filling_));
  }
  std::unique_lock lock(mutex_);
  ending_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return done_; });
  if (failure_) {
    throw std::runtime_error(*failure_);
  }
  lock.unlock();
  return digest_.HexDigest();
}

void BackgroundSha256::HandOver(Block block) {
  {
    const std::lock_guard lock(mutex_);
    full_.push_back(std::move(block));
  }
  changed_.notify_all();
}

BackgroundSha256::Block BackgroundSha256::TakeFreeBlock() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !free_.empty(); });
  Block block = std::move(free_.back());
  free_.pop_back();
  block.clear();
  return block;
}

void BackgroundSha256::DigestBlocks() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !full_.empty() || ending_; });
    if (full_.empty()) {
      done_ = true;
      changed_.notify_all();
      return;
    }
    Block block = std::move(full_.front());
    full_.pop_front();
    lock.unlock();
    std::optional<std::string> failure;
    try {
      digest_.Update(block);
    } catch (const std::runtime_error& error) {
      failure = error.what();
    }
    lock.lock();
    if (failure && !failure_) {
      failure_ = std::move(failure);
    }
    free_.push_back(std::move(block));
    changed_.notify_all();
  }
}

}  // namespace korvani::transfer
