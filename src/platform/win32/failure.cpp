#include "platform/failure.h"

namespace corvana::platform {

// The code GetLastError left, as the system's error tables number it.
extern const char kSystemCodeWords[] = " failed with error ";

}  // namespace corvana::platform
