#include "platform/failure.h"

namespace corvana::platform {

std::string FailedCallText(const char* call, int64_t native_error) {
  return std::string(call) + " failed with errno " +
         std::to_string(native_error);
}

}  // namespace corvana::platform
