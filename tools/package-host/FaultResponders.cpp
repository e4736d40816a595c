#include "FaultResponders.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace korvani::packagehost {
namespace {

const char* const kOctetStream = "application/octet-stream";

// Large writes keep a 64 MiB body from costing the host more than the client.
constexpr std::size_t kLargestWrite = std::size_t{1} << 20U;
// Chunks of a chunked body: small enough that a cut body arrives in several.
constexpr std::size_t kChunkSize = std::size_t{64} << 10U;
// What a stalled answer sends before it falls silent.
constexpr std::size_t kBytesBeforeStall = std::size_t{64} << 10U;
constexpr std::uint64_t kTricklePiecesPerSecond = 10;

// Bodies set with a length are never compressed by httplib, whatever the client accepts.
void SetPage(httplib::Response& response, std::string page, const char* contentType) {
  auto shared = std::make_shared<const std::string>(std::move(page));
  const std::size_t size = shared->size();
  response.set_content_provider(
      size, contentType, [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        return sink.write(shared->data() + offset, length);
      });
}

void AnswerStatus(int status, httplib::Response& response) {
  response.status = status;
  // These two statuses never carry a body.
  if (status == 204 || status == 304) {
    return;
  }
  const std::string code = std::to_string(status);
  SetPage(response,
          "<!DOCTYPE html>\n<html><head><title>Error " + code + "</title></head><body><h1>Error " +
              code + "</h1><p>The package host answers this download with status " + code +
              ".</p></body></html>\n",
          "text/html");
}

// The full Content-Length, the first half of the body, then a closed connection.
void AnswerShort(PackageStore::Bytes bytes, httplib::Response& response) {
  const std::size_t size = bytes->size();
  const std::size_t cut = size / 2;
  response.status = 200;
  response.set_content_provider(
      size, kOctetStream,
      [bytes = std::move(bytes), cut](std::size_t offset, std::size_t length,
                                      httplib::DataSink& sink) {
        if (offset >= cut) {
          return false;  // httplib closes the connection
        }
        return sink.write(bytes->data() + offset, std::min({length, cut - offset, kLargestWrite}));
      });
}

// Chunks for the first half of the body, then a close without the terminating chunk.
void AnswerChunkedShort(PackageStore::Bytes bytes, httplib::Response& response) {
  const std::size_t cut = bytes->size() / 2;
  response.status = 200;
  response.set_chunked_content_provider(
      kOctetStream, [bytes = std::move(bytes), cut](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= cut) {
          return false;
        }
        return sink.write(bytes->data() + offset, std::min(cut - offset, kChunkSize));
      });
}

void AnswerStall(PackageStore::Bytes bytes, double seconds, const StopSignal& stop,
                 httplib::Response& response) {
  const std::size_t size = bytes->size();
  const std::size_t first = std::min(size, kBytesBeforeStall);
  response.status = 200;
  response.set_content_provider(
      size, kOctetStream,
      [bytes = std::move(bytes), first, seconds, &stop](std::size_t offset, std::size_t length,
                                                        httplib::DataSink& sink) {
        // Writes stop exactly at `first`, so this offset comes up once.
        if (offset == first && !stop.WaitFor(seconds)) {
          return false;
        }
        if (offset < first) {
          length = std::min(length, first - offset);
        }
        return sink.write(bytes->data() + offset, std::min(length, kLargestWrite));
      });
}

// Each piece is due when the bytes before it have taken their share of the time since
// the answer began, so the pace holds however long a write takes.
void AnswerTrickle(PackageStore::Bytes bytes, std::uint64_t bytesPerSecond, const StopSignal& stop,
                   httplib::Response& response) {
  const std::size_t size = bytes->size();
  const std::size_t piece = std::max<std::size_t>(1, bytesPerSecond / kTricklePiecesPerSecond);
  const auto start = StopSignal::Clock::now();
  response.status = 200;
  response.set_content_provider(
      size, kOctetStream,
      [bytes = std::move(bytes), bytesPerSecond, piece, start, &stop](
          std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        const auto due =
            start +
            std::chrono::duration_cast<StopSignal::Clock::duration>(std::chrono::duration<double>(
                static_cast<double>(offset) / static_cast<double>(bytesPerSecond)));
        if (!stop.WaitUntil(due)) {
          return false;
        }
        return sink.write(bytes->data() + offset, std::min(length, piece));
      });
}

// The file with its middle byte inverted: the same length, a different SHA-256.
PackageStore::Bytes WithMiddleByteFlipped(const PackageStore::Bytes& bytes) {
  auto flipped = std::make_shared<std::string>(*bytes);
  if (!flipped->empty()) {
    char& middle = (*flipped)[flipped->size() / 2];
    middle = static_cast<char>(~static_cast<unsigned char>(middle));
  }
  return flipped;
}

// What a café's or a hotel's network answers every request with until its user signs in.
std::string PortalPage() {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<title>Welcome to Café Korvani Wi-Fi</title>\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<style>\n";
  // The styles that make such a page as large as the real ones, around 5 KB.
  for (int rule = 0; rule < 40; ++rule) {
    page += ".portal-rule-" + std::to_string(rule) +
            " { margin: 0 auto; padding: 12px 16px; font: 15px/1.4 sans-serif; color: #333; "
            "}\n";
  }
  page +=
      "</style></head>\n<body><main class=\"portal\">\n<h1>Welcome!</h1>\n"
      "<p>Please accept the terms of use to connect to the Internet.</p>\n"
      "<form method=\"post\" action=\"/portal/accept\"><label><input type=\"checkbox\" "
      "name=\"terms\"> I accept the terms of use</label>\n"
      "<button type=\"submit\">Connect</button></form>\n</main></body></html>\n";
  return page;
}

}  // namespace

void ServeWhole(PackageStore::Bytes bytes, const StopSignal& stop, httplib::Response& response) {
  response.status = 200;
  const std::size_t size = bytes->size();
  if (size == 0) {
    response.set_content(std::string(), kOctetStream);
    return;
  }
  response.set_content_provider(
      size, kOctetStream,
      [bytes = std::move(bytes), &stop](std::size_t offset, std::size_t length,
                                        httplib::DataSink& sink) {
        if (stop.Raised()) {
          return false;
        }
        return sink.write(bytes->data() + offset, std::min(length, kLargestWrite));
      });
}

void FaultResponder::Answer(const httplib::Request& request, const std::string& name,
                            PackageStore::Bytes bytes, httplib::Response& response) const {
  switch (mode_.kind) {
    case FaultKind::None:
      ServeWhole(std::move(bytes), stop_, response);
      return;
    case FaultKind::Status:
      AnswerStatus(mode_.status, response);
      return;
    case FaultKind::Short:
      AnswerShort(std::move(bytes), response);
      return;
    case FaultKind::ChunkedShort:
      AnswerChunkedShort(std::move(bytes), response);
      return;
    case FaultKind::Stall:
      AnswerStall(std::move(bytes), mode_.seconds, stop_, response);
      return;
    case FaultKind::Empty:
      response.status = 200;
      response.set_content(std::string(), kOctetStream);
      return;
    case FaultKind::Redirect:
      response.set_redirect("/moved/" + PercentEncoded(name));
      return;
    case FaultKind::RedirectFile:
      response.set_redirect("file:///etc/hostname");
      return;
    case FaultKind::RedirectLoop:
      response.set_redirect(request.target);
      return;
    case FaultKind::RedirectTo:
      response.set_redirect(mode_.baseUrl + "/downloads/" + PercentEncoded(name));
      return;
    case FaultKind::DelayHeaders:
      if (!stop_.WaitFor(mode_.seconds)) {
        response.status = 503;
        return;
      }
      ServeWhole(std::move(bytes), stop_, response);
      return;
    case FaultKind::Trickle:
      AnswerTrickle(std::move(bytes), mode_.bytesPerSecond, stop_, response);
      return;
    case FaultKind::FlipByte:
      ServeWhole(WithMiddleByteFlipped(bytes), stop_, response);
      return;
    case FaultKind::Portal:
      response.status = 200;
      SetPage(response, PortalPage(), "text/html; charset=utf-8");
      return;
  }
}

std::string PercentEncoded(const std::string& text) {
  std::string encoded;
  encoded.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      encoded += c;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", byte);
      encoded += escape;
    }
  }
  return encoded;
}

}  // namespace korvani::packagehost
