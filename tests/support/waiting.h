// Waiting for real threads and real children. The deadlines only turn a hang
// into a failure; they are no verdict on speed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

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

// A thread whose join is bounded: one still running past the hang bound
// fails the test with what it was doing and ends the test program, which
// could neither wait for it nor let it run on over a finished test's state.
class BoundedThread {
 public:
  BoundedThread(const char* what, std::function<void()> body);
  ~BoundedThread() { Join(); }
  BoundedThread(const BoundedThread&) = delete;
  BoundedThread& operator=(const BoundedThread&) = delete;
  void Join();

 private:
  const char* what_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace corvana::testing
