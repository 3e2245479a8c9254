#include "platform/library.h"

#include <dlfcn.h>

#include "platform/failure.h"

namespace corvana::platform {
namespace {

// The one place where a failure is put into words: the call that failed and
// what the dynamic loader says about it (dlerror is its only error report).
bool Fail(Library* library, const char* call, const char* detail) {
  if (detail == nullptr) {
    const char* loader_message = dlerror();
    detail = loader_message ? loader_message : "no reason given";
  }
  library->error = FailedCallText(call, std::string(detail));
  return false;
}

}  // namespace

std::string LibraryFileName(const std::string& base_name) {
  return "lib" + base_name + ".so";
}

bool OpenLibrary(const std::string& full_path, Library* library) {
  library->handle = nullptr;
  library->error.clear();
  // A relative path would be taken from the current directory, which is not
  // ours to trust; a name without a slash would go through the search path.
  if (full_path.empty() || full_path[0] != '/') {
    return Fail(library, "dlopen", "not a full path");
  }
  dlerror();  // forget an error left from an earlier call
  // RTLD_NOW: a library with unresolvable references fails here, not at the
  // first call from a crashing process.
  library->handle = dlopen(full_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library->handle == nullptr) return Fail(library, "dlopen", nullptr);
  return true;
}

void* FindLibrarySymbol(Library* library, const char* name) {
  if (library->handle == nullptr) {
    Fail(library, "dlsym", "library not open");
    return nullptr;
  }
  dlerror();
  void* address = dlsym(library->handle, name);
  // An exported symbol may legitimately sit at address 0 for dlsym; none of
  // ours does, so null is a failure either way.
  if (address == nullptr) Fail(library, "dlsym", nullptr);
  return address;
}

}  // namespace corvana::platform
