// The events reach syslog as LOG_DAEMON lines of the ident RavoScheduler,
// with the level's priority: a socket of the test's own stands in for
// /dev/log. Windows: the Wine end-to-end test reads the registration.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "logging/events.h"
#include "platform/event_log.h"
#include "platform/seams.h"
#include "support/fixtures.h"

namespace corvana {
namespace {

class SyslogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, (dir_.path() / "log").c_str(), sizeof address.sun_path - 1);
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socket_path_ = address.sun_path;
  }
  void TearDown() override { close(socket_); }
  std::string Received() {
    char buffer[4096];
    const ssize_t length = recv(socket_, buffer, sizeof buffer, 0);
    return length < 0 ? std::string() : std::string(buffer, size_t(length));
  }

  testing::TempDir dir_;
  int socket_ = -1;
  std::string socket_path_;
};

TEST_F(SyslogTest, EventsArriveWithTheirPriorityAndIdent) {
  const struct {
    platform::EventLevel level;
    int priority;  // LOG_DAEMON | severity
  } cases[] = {{platform::EventLevel::kError, 27},
               {platform::EventLevel::kWarning, 28},
               {platform::EventLevel::kInformation, 30}};
  const std::string ident = " RavoScheduler[" + std::to_string(getpid()) + "]: ";
  for (const auto& c : cases) {
    ASSERT_FALSE(platform::ReportSystemEvent(socket_path_, c.level, 3001, {}, "text of the event").failed());
    const std::string line = Received();
    SCOPED_TRACE(line);
    EXPECT_TRUE(line.starts_with("<" + std::to_string(c.priority) + ">"));
    EXPECT_TRUE(line.ends_with(ident + "[3001] text of the event"));
  }
  // Through the system's reporter: the catalogue's text, the id escaped.
  {
    platform::SystemEventReporter reporter(socket_path_);
    testing::ScopedSeams seams;
    platform::SetEventReporter(&reporter);
    ReportAnalyzerNotStarted(RunKind::kSchedule, "A\x1b[2J",
                             "posix_spawn failed with errno 13");
  }
  EXPECT_TRUE(Received().ends_with(ident + "[3001] " +
      "The analyzer could not be started for the schedule A\\x1b[2J: "
      "posix_spawn failed with errno 13."));
  // Nobody listening: one attempt, the call named, and the engine goes on.
  EXPECT_EQ(platform::FailedCallText(platform::ReportSystemEvent(
                (dir_.path() / "nobody").string(), platform::EventLevel::kError, 3001,
                {}, "x")),
            "sendto failed with errno 2");
}

}  // namespace
}  // namespace corvana
#endif
