// How a failed operating-system call is put into words, the same way
// wherever it fails, so that an operator can look the code up.
#pragma once

#include <cstdint>
#include <string>

namespace corvana::platform {

// What the system gave back: its own error code, or the exit status of a
// program that stands for the call (systemctl). kRefused: every call
// succeeded, and a check of what they gave refused it; `call` then names
// what was found ("not a regular file") and there is no code.
enum class NativeErrorKind { kSystemCode, kExitStatus, kRefused };

// A call that failed and the system's code for why; `call` is empty when
// nothing failed. The call's name is a literal, so that the record can be
// kept and copied freely.
struct FailedCall {
  const char* call = "";
  int64_t native_error = 0;
  NativeErrorKind kind = NativeErrorKind::kSystemCode;

  bool failed() const { return call[0] != '\0'; }
};

// "<call> failed with <native code>": "openat failed with errno 13" on
// POSIX, "CreateFileA failed with error 5" on Windows, "systemctl failed
// with exit status 1" for an exit status; what was found for a refusal.
// Empty when nothing failed.
std::string FailedCallText(const FailedCall& failure);
inline std::string FailedCallText(const char* call, int64_t native_error) {
  return FailedCallText(FailedCall{call, native_error});
}
// For a call that reports in words alone (dlerror): "<call> failed: <words>".
std::string FailedCallText(const char* call, const std::string& words);

}  // namespace corvana::platform
