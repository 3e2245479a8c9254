#include "platform/failure.h"

namespace corvana::platform {

// The words before a system code, the platform's own (posix/failure.cpp,
// win32/failure.cpp), so that the code reads as what it is.
extern const char kSystemCodeWords[];

std::string FailedCallText(const FailedCall& failure) {
  if (!failure.failed()) return std::string();
  if (failure.kind == NativeErrorKind::kRefused) return failure.call;
  const char* words = failure.kind == NativeErrorKind::kExitStatus
                          ? " failed with exit status "
                          : kSystemCodeWords;
  return failure.call + std::string(words) + std::to_string(failure.native_error);
}

std::string FailedCallText(const char* call, const std::string& words) {
  return std::string(call) + " failed: " + words;
}

}  // namespace corvana::platform
