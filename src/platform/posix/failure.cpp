#include "platform/failure.h"

namespace corvana::platform {

// errno, as <errno.h> numbers it.
extern const char kSystemCodeWords[] = " failed with errno ";

}  // namespace corvana::platform
