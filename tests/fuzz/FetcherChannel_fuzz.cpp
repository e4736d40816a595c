// The window's reader of the fetcher's replies, for any bytes a fetcher that was taken over
// could send, received in pieces of any size: it never hands out more than arrived, never a
// data frame larger than a frame may be, nothing before the head or after the reply's end,
// and once it has found the bytes wrong it stays so.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzSupport.h"
#include "platform/FetcherChannel.h"

using korvani::fuzz::Require;
using korvani::platform::channel::kMaxPayload;
using korvani::platform::channel::ReplyReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  // The first byte picks how the bytes are cut into receives, as a socket may cut them.
  const std::size_t piece = 1 + data[0] % 64 * 97;
  std::span<const std::uint8_t> rest(data + 1, size - 1);

  ReplyReader reader;
  reader.AwaitHead();
  std::size_t received = 0;
  std::size_t handedOut = 0;
  bool opened = false;
  bool over = false;
  bool broken = false;
  for (;;) {
    std::span<const std::byte> bytes;
    const ReplyReader::Event event = reader.Next(bytes);
    Require(!broken || event == ReplyReader::Event::Malformed, "malformed stays malformed");
    Require(bytes.empty() || event == ReplyReader::Event::Data, "bytes only with data");
    switch (event) {
      case ReplyReader::Event::Opened:
        Require(!opened && !over, "one head, first");
        opened = true;
        continue;
      case ReplyReader::Event::Data:
        Require(opened && !over, "data only after an opening head and before the end");
        Require(!bytes.empty() && bytes.size() <= kMaxPayload, "a data frame's size");
        handedOut += bytes.size();
        Require(handedOut <= received, "never more than arrived");
        continue;
      case ReplyReader::Event::NotOpened:
      case ReplyReader::Event::End:
      case ReplyReader::Event::Failed:
        Require(!over, "one end");
        Require(opened == (event != ReplyReader::Event::NotOpened), "ends fit the head");
        over = true;
        continue;
      case ReplyReader::Event::Malformed:
        broken = true;
        if (rest.empty()) {
          return 0;
        }
        break;
      case ReplyReader::Event::Incomplete:
        if (rest.empty()) {
          return 0;
        }
        break;
    }
    const std::span<std::byte> space = reader.FreeSpace();
    const std::size_t count = std::min({piece, rest.size(), space.size()});
    Require(count > 0 || broken || over, "room for more while a reply is owed");
    if (count == 0) {
      return 0;
    }
    std::copy_n(reinterpret_cast<const std::byte*>(rest.data()), count, space.begin());
    reader.Received(count);
    received += count;
    rest = rest.subspan(count);
  }
}
