#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

namespace korvani::fuzz {

void Fail(const char* property) {
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

std::vector<std::string> InputFields(std::string_view text, std::size_t count) {
  std::vector<std::string> fields;
  fields.reserve(count);
  while (fields.size() + 1 < count) {
    const auto lineFeed = text.find('\n');
    fields.emplace_back(text.substr(0, lineFeed));
    text = lineFeed == std::string_view::npos ? std::string_view() : text.substr(lineFeed + 1);
  }
  fields.emplace_back(text);
  return fields;
}

std::string Joined(const std::vector<std::string>& texts, char separator) {
  std::string joined;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) {
      joined += separator;
    }
    joined += texts[i];
  }
  return joined;
}

}  // namespace korvani::fuzz
