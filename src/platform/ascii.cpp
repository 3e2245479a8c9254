#include "platform/ascii.h"

namespace corvana::platform {
namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  const char* end = text.data() + text.size() - tail.size();
  for (size_t i = 0; i < tail.size(); ++i) {
    if (LowerAscii(end[i]) != LowerAscii(tail[i])) return false;
  }
  return true;
}

size_t MatchingExtension(std::string_view name,
                         std::span<const std::string_view> extensions) {
  for (size_t i = 0; i < extensions.size(); ++i) {
    if (EndsWithIgnoringCase(name, extensions[i])) return i;
  }
  return extensions.size();
}

}  // namespace corvana::platform
