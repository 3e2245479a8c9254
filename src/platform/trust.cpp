#include "platform/trust.h"

#include "platform/ascii.h"

namespace corvana::platform {

bool IsLoadableBeside(const std::string& entry, const std::string& program) {
  if (EndsWithIgnoringCase(entry, ".dll")) return true;
  for (const char* suffix : {".local", ".manifest", ".config"}) {
    const std::string name = program + suffix;
    if (entry.size() == name.size() && EndsWithIgnoringCase(entry, name)) return true;
  }
  return false;
}

}  // namespace corvana::platform
