#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvani::packagehost {

// Placeholder files are a pure function of their name and offset, so a test can compute
// what the host served without asking it. The bytes are the splitmix64 sequence seeded
// with the FNV-1a 64-bit hash of the name: the 64-bit word at index w is
// splitmix64(seed + (w + 1) * 0x9E3779B97F4A7C15), stored little-endian, and the file is
// the first `size` bytes of that stream. Any byte can be computed without the ones before.

// The seed of `name`'s stream (FNV-1a 64 of its bytes).
std::uint64_t ContentSeed(std::string_view name);

// Writes the `length` bytes of `name`'s stream that start at `offset` into `out`.
void FillGeneratedContent(std::string_view name, std::uint64_t offset, char* out,
                          std::size_t length);

// The whole placeholder file: the first `size` bytes of `name`'s stream.
std::string GeneratedContent(std::string_view name, std::size_t size);

}  // namespace korvani::packagehost
