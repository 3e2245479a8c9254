// The service's main function and control handler.
#pragma once

#include <cstdint>

#include "platform/service.h"

namespace corvana {

// Runs on the dispatcher's worker thread: reports running, runs the engine
// until a stop is requested, shuts it down and reports stopped.
void ServiceMain();
// Runs on the main thread: stop and shutdown report stop pending, set the
// stop flag and tell nginx to quit; anything else is ignored.
void ServiceControlHandler(platform::ServiceControl control);

// While a stop is under way: the handler's pause and one tick, with room.
inline constexpr uint32_t kStopWaitHintMs = 3000;

}  // namespace corvana
