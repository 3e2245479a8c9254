// The POSIX dispatcher as the service's main function relies on it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/service.h"
#include "support/proc.h"
#include "support/waiting.h"

namespace corvana {
namespace {

#ifdef __linux__

using testing::Eventually;
constexpr std::chrono::milliseconds kStopBoundMs{10000};
constexpr std::chrono::milliseconds kStopPollMs{1};

// Whether SIGTERM (signal 15) waits in the process-wide pending set, which
// the dispatcher empties when it takes it.
bool StopIsPending() {
  const std::string pending = testing::OwnStatusField("ShdPnd");
  return !pending.empty() && (std::stoull(pending, nullptr, 16) >> (15 - 1) & 1) != 0;
}

std::atomic<int> stops{0};
std::atomic<bool> taken_before_registration{false};
std::atomic<bool> stop_reached_handler{false};
void CountStop(platform::ServiceControl control) {
  if (control == platform::ServiceControl::kStop) stops.fetch_add(1);
}

// A stop that the dispatcher takes before the worker has registered its
// handler reaches the handler once it is registered, exactly once.
TEST(ServiceDispatcherTest, StopBeforeTheHandlerIsRegisteredIsDeliveredOnce) {
  static auto service_main = [] {
    if (std::system(("kill -TERM " + std::to_string(testing::OwnPid())).c_str()) != 0) return;
    taken_before_registration.store(
        Eventually([] { return !StopIsPending(); }, kStopBoundMs, kStopPollMs));
    platform::RegisterControlHandler("RavoScheduler", &CountStop);
    stop_reached_handler.store(
        Eventually([] { return stops.load() > 0; }, kStopBoundMs, kStopPollMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for a second one
  };
  ASSERT_TRUE(platform::RunServiceDispatcher("RavoScheduler", [] { service_main(); }));
  ASSERT_TRUE(taken_before_registration.load()) << "the dispatcher never took the stop";
  EXPECT_TRUE(stop_reached_handler.load()) << "the stop was lost";
  EXPECT_EQ(stops.load(), 1);
  platform::RegisterControlHandler("RavoScheduler", nullptr);
}

#endif  // __linux__

}  // namespace
}  // namespace corvana
