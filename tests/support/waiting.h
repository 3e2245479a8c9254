// Waiting for real threads and real children. The deadlines only turn a hang
// into a failure; they are no verdict on speed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/process.h"

namespace corvana::testing {

// Far beyond any wait a healthy run needs, even under Wine on a busy machine,
// and still well inside ctest's timeout.
inline constexpr std::chrono::milliseconds kHangBoundMs{30000};
inline constexpr std::chrono::milliseconds kPollMs{10};

// Whether `condition` held within `timeout`. It is asked every `poll`; a
// zero poll only yields, for waits on another thread of this process whose
// interleaving a sleep would change.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = kHangBoundMs,
                std::chrono::milliseconds poll = kPollMs);

// Waits for the child to end and gives its exit code. A child that runs on
// past the hang bound, or a handle that is not valid, is a test failure.
uint32_t WaitForExit(platform::ProcessHandle process);

}  // namespace corvana::testing
