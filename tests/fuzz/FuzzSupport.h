#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Shared by the libFuzzer targets: turning the raw input into texts, and failing
// loudly when a property does not hold.
namespace korvani::fuzz {

// Stops the run with the property's description. libFuzzer treats the abort as a
// crash and saves the input that caused it. Not assert(): release builds define NDEBUG.
[[noreturn]] void Fail(const char* property);

inline void Require(bool holds, const char* property) {
  if (!holds) {
    Fail(property);
  }
}

inline std::string_view InputText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input cut at its first `count - 1` line feeds into `count` texts; the last one
// keeps the rest, line feeds included, and missing ones are empty. Seeds stay readable
// as one field per line.
std::vector<std::string> InputFields(std::string_view text, std::size_t count);

// The texts joined with `separator` between each pair.
std::string Joined(const std::vector<std::string>& texts, char separator);

}  // namespace korvani::fuzz
