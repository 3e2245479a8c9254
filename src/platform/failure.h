// How a failed operating-system call is put into words, the same way
// wherever it fails, so that an operator can look the code up.
#pragma once

#include <cstdint>
#include <string>

namespace corvana::platform {

// "<call> failed with <native code>": "openat failed with errno 13" on
// POSIX, "CreateFileA failed with error 5" on Windows.
std::string FailedCallText(const char* call, int64_t native_error);

}  // namespace corvana::platform
