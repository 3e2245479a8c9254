#include "platform/env.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace corvana::platform {

const char kPathSeparator = '/';
const bool kLoneHighBytesArePrintable = false;

std::optional<std::string> GetEnv(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string CommonAppDataFolder() {
  auto value = GetEnv("PROGRAMDATA");
  if (value && !value->empty()) return *value;
  return "/var/lib";
}

std::string UserAppDataFolder() {
  auto xdg = GetEnv("XDG_DATA_HOME");
  if (xdg && !xdg->empty()) return *xdg;
  auto home = GetEnv("HOME");
  if (home && !home->empty()) return *home + "/.local/share";
  return "";
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return "";
  return buffer;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "";
  return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace corvana::platform
