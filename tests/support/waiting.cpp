#include "support/waiting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace corvana::testing {

bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout,
                std::chrono::milliseconds poll) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    if (poll.count() == 0) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(poll);
    }
  }
  return true;
}

uint32_t WaitForExit(platform::ProcessHandle process) {
  platform::ProcessStatus status;
  Eventually([&] {
    status = platform::QueryProcess(process);
    return status.state != platform::ProcessState::kRunning;
  });
  EXPECT_EQ(status.state, platform::ProcessState::kExited)
      << "the child ran on past the hang bound, or its handle is not valid";
  return status.exit_code;
}

BoundedThread::BoundedThread(const char* what, std::function<void()> body)
    : what_(what), thread_([this, body = std::move(body)] {
        body();
        ended_.store(true);
      }) {}

void BoundedThread::Join() {
  if (!thread_.joinable()) return;
  if (!Eventually([this] { return ended_.load(); })) {
    ADD_FAILURE() << what_ << " still runs after the hang bound";
    std::fflush(stdout);
    std::abort();
  }
  thread_.join();
}

}  // namespace corvana::testing
