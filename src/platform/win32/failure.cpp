#include "platform/failure.h"

namespace corvana::platform {

// The code GetLastError left, as the system's error tables number it.
std::string FailedCallText(const char* call, int64_t native_error) {
  return std::string(call) + " failed with error " +
         std::to_string(native_error);
}

}  // namespace corvana::platform
