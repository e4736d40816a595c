#pragma once

#include <curl/curl.h>

#include <memory>
#include <utility>

namespace korvani::platform {

// Owners of the libcurl handles, so that every path out of a transfer releases them.

struct EasyHandleDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

struct MultiHandleDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiHandleDeleter>;

struct UrlPartsDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlParts = std::unique_ptr<CURLU, UrlPartsDeleter>;

// An easy handle's place in a multi handle. libcurl requires the easy handle to
// leave the multi handle before either is cleaned up, so this owner must be
// destroyed before the two handles it joins.
class MultiMembership {
 public:
  MultiMembership() = default;
  MultiMembership(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {}
  MultiMembership(const MultiMembership&) = delete;
  MultiMembership& operator=(const MultiMembership&) = delete;
  MultiMembership(MultiMembership&& other) noexcept
      : multi_(std::exchange(other.multi_, nullptr)), easy_(std::exchange(other.easy_, nullptr)) {}
  MultiMembership& operator=(MultiMembership&& other) noexcept {
    if (this != &other) {
      Leave();
      multi_ = std::exchange(other.multi_, nullptr);
      easy_ = std::exchange(other.easy_, nullptr);
    }
    return *this;
  }
  ~MultiMembership() { Leave(); }

 private:
  void Leave() {
    if (multi_ != nullptr && easy_ != nullptr) {
      curl_multi_remove_handle(multi_, easy_);
    }
  }

  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
};

}  // namespace korvani::platform
