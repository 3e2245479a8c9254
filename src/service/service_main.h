// The service's main function and control handler.
#pragma once

#include <cstdint>

namespace corvana {

// Runs on the dispatcher's worker thread: reports running, runs the engine
// until a stop is requested, shuts it down and reports stopped.
void ServiceMain();
// Runs on the main thread: stop and shutdown set the stop flag and tell
// nginx to quit; anything else is ignored.
void ServiceControlHandler(uint32_t control);

}  // namespace corvana
