#include "platform/env.h"

namespace corvana::platform {

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const size_t last = path.rfind(kPathSeparator);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace corvana::platform
