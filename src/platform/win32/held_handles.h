// The handles behind platform::HeldFolder and platform::HeldProgram, and the
// owner test that the service's own files share with the trust check.
#pragma once

#include <windows.h>

#include <string>

#include "platform/fs.h"
#include "platform/trust.h"

namespace corvana::platform {

struct HeldFolder::Handle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string path;
  void Reset(HANDLE new_handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = new_handle;
  }
  ~Handle() { Reset(INVALID_HANDLE_VALUE); }
};

struct HeldProgram::Handles {
  HANDLE home = INVALID_HANDLE_VALUE;
  HANDLE folder = INVALID_HANDLE_VALUE;
  HANDLE file = INVALID_HANDLE_VALUE;
  void Close() {
    for (HANDLE* handle : {&home, &folder, &file}) {
      if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
      *handle = INVALID_HANDLE_VALUE;
    }
  }
  ~Handles() { Close(); }
};

// Whether the object behind the handle (opened with READ_CONTROL) is owned
// by the system, the administrators, TrustedInstaller or, for
// kThisProcess, this process's account. False when the owner cannot be read.
bool OwnedByTrusted(HANDLE handle, ServiceAccount account);

}  // namespace corvana::platform
