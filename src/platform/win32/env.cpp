#include "platform/env.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace corvana::platform {

const char kPathSeparator = '\\';

std::optional<std::string> GetEnv(const char* name) {
  DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::vector<char> buffer(size);
  DWORD length = GetEnvironmentVariableA(name, buffer.data(), size);
  return std::string(buffer.data(), length);
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
