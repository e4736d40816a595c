#include "GeneratedContent.h"

namespace korvani::packagehost {
namespace {

constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t kWordBytes = 8;

std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31U);
}

std::uint64_t Word(std::uint64_t seed, std::uint64_t index) {
  return Mix(seed + (index + 1) * kGoldenGamma);
}

}  // namespace

std::uint64_t ContentSeed(std::string_view name) {
  std::uint64_t hash = kFnvOffsetBasis;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kFnvPrime;
  }
  return hash;
}

void FillGeneratedContent(std::string_view name, std::uint64_t offset, char* out,
                          std::size_t length) {
  const std::uint64_t seed = ContentSeed(name);
  std::uint64_t index = offset / kWordBytes;
  std::uint64_t byteInWord = offset % kWordBytes;
  std::size_t written = 0;
  while (written < length) {
    std::uint64_t word = Word(seed, index) >> (8 * byteInWord);
    for (; byteInWord < kWordBytes && written < length; ++byteInWord) {
      out[written++] = static_cast<char>(word & 0xFFU);
      word >>= 8U;
    }
    byteInWord = 0;
    ++index;
  }
}

std::string GeneratedContent(std::string_view name, std::size_t size) {
  std::string bytes(size, '\0');
  FillGeneratedContent(name, 0, bytes.data(), size);
  return bytes;
}

}  // namespace korvani::packagehost
