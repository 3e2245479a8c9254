#include "platform/trust.h"

#include <cctype>

namespace corvana::platform {
namespace {

bool EqualNoCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         EqualNoCase(text.data() + text.size() - tail.size(), tail.data(),
                     tail.size());
}

}  // namespace

bool IsLoadableBeside(const std::string& entry, const std::string& program) {
  if (EndsWithNoCase(entry, ".dll")) return true;
  for (const char* suffix : {".local", ".manifest", ".config"}) {
    const std::string name = program + suffix;
    if (entry.size() == name.size() && EndsWithNoCase(entry, name)) return true;
  }
  return false;
}

}  // namespace corvana::platform
