#include "platform/library.h"

#include <windows.h>

#include "platform/failure.h"

namespace corvana::platform {
namespace {

bool Fail(Library* library, const char* call, DWORD error_code) {
  library->error = FailedCallText(call, error_code);
  return false;
}

// "C:\..." or "\\server\share\...": nothing the loader would search for.
bool IsFullPath(const std::string& path) {
  auto is_separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && is_separator(path[2])) {
    return true;
  }
  return path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]);
}

}  // namespace

std::string LibraryFileName(const std::string& base_name) {
  return base_name + ".dll";
}

bool OpenLibrary(const std::string& full_path, Library* library) {
  library->handle = nullptr;
  library->error.clear();
  if (!IsFullPath(full_path)) {
    return Fail(library, "LoadLibraryExA", ERROR_INVALID_PARAMETER);
  }
  // The library's own imports come from its folder and from System32 only,
  // never from the current directory or the PATH.
  HMODULE module = LoadLibraryExA(
      full_path.c_str(), nullptr,
      LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR);
  if (module == nullptr) {
    return Fail(library, "LoadLibraryExA", GetLastError());
  }
  library->handle = module;
  return true;
}

void* FindLibrarySymbol(Library* library, const char* name) {
  if (library->handle == nullptr) {
    Fail(library, "GetProcAddress", ERROR_INVALID_HANDLE);
    return nullptr;
  }
  FARPROC address = GetProcAddress(static_cast<HMODULE>(library->handle), name);
  if (address == nullptr) {
    Fail(library, "GetProcAddress", GetLastError());
    return nullptr;
  }
  return reinterpret_cast<void*>(address);
}

}  // namespace corvana::platform
