// Libraries loaded at run time, always by full path. A bare name would let
// the loader look through the current directory and the search path, where
// anybody who can write there plants a library of the same name that then
// runs inside the service.
#pragma once

#include <string>

// The calling convention of a loaded library's entry points and of the
// callbacks it makes. The build names it on a platform with more than one;
// everywhere else there is one and only convention.
#ifndef CORVANA_LIBRARY_CALL
#define CORVANA_LIBRARY_CALL
#endif

namespace corvana::platform {

// An opened library. Libraries are never unloaded: their entry points stay
// registered with others (a crash handler) for the life of the process.
struct Library {
  void* handle = nullptr;
  // After a failure: the operating-system call that failed and its own
  // error code or message, e.g. "LoadLibraryExA failed with error 126".
  std::string error;
};

// The file name the system gives a shared library of that base name:
// "CrashRpt1402.dll" on Windows, "libCrashRpt1402.so" on POSIX.
std::string LibraryFileName(const std::string& base_name);

// Opens the library file at `full_path`. A path that is not absolute is
// refused. On Windows the library's own dependencies are resolved from its
// folder and the system folder only.
bool OpenLibrary(const std::string& full_path, Library* library);

// The address of the exported `name`, or nullptr with `library->error` set.
void* FindLibrarySymbol(Library* library, const char* name);

}  // namespace corvana::platform
