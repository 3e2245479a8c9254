#include "platform/env.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace corvana::platform {

const char kPathSeparator = '\\';
const bool kLoneHighBytesArePrintable = true;

namespace {
constexpr int kGetEnvAttempts = 4;
}  // namespace

// The variable may change between asking its size and reading it: a result
// as large as the buffer is the size it has grown to, not a length, and a
// zero says it has gone (or become empty). Each is asked again.
std::optional<std::string> GetEnv(const char* name) {
  DWORD size = 0;
  std::vector<char> buffer;
  for (int attempt = 0; attempt < kGetEnvAttempts; ++attempt) {
    SetLastError(ERROR_SUCCESS);  // an empty value leaves it untouched
    const DWORD length = GetEnvironmentVariableA(
        name, buffer.empty() ? nullptr : buffer.data(), size);
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < size) return std::string(buffer.data(), length);
    size = length;
    buffer.assign(size, '\0');
  }
  return std::nullopt;  // it kept growing
}

namespace {
std::string ShellFolder(int csidl) {
  char buffer[MAX_PATH] = {};
  // SHGFP_TYPE_CURRENT, and no CSIDL_FLAG_CREATE: the folder is not created.
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, buffer))) return "";
  return buffer;
}
}  // namespace

std::string CommonAppDataFolder() { return ShellFolder(CSIDL_COMMON_APPDATA); }

std::string UserAppDataFolder() { return ShellFolder(CSIDL_APPDATA); }

std::string CurrentDirectory() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

std::string ExecutablePath() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

}  // namespace corvana::platform
