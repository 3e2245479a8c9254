// The test binary doubles as its own child process for real-process tests:
// "--child <mode> ..." runs a small helper instead of the suites. The marker
// need not be the first argument: a child started from an unquoted command
// line whose path holds blanks sees the pieces of that path before it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "logging/events.h"
#include "platform/seams.h"
#include "support/child_modes.h"
#include "support/fixtures.h"

namespace {

// A test whose HomePath falls back to the current directory writes there
// (webserver/nginx.exe): each test runs in a folder of its own, so that no
// test finds another's files, nor the build's test folder a leftover.
class FolderPerTest : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    corvana::ForgetReportedEvents();  // nor the events another reported,
    corvana::testing::RecordedEvents().Refuse(0);  // nor a log it left refusing
    folder_ = std::make_unique<corvana::testing::TempDir>();
    std::error_code ignored;
    std::filesystem::current_path(folder_->path(), ignored);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::error_code ignored;
    std::filesystem::current_path(start_, ignored);
    folder_.reset();
  }

 private:
  const std::filesystem::path start_ = std::filesystem::current_path();
  std::unique_ptr<corvana::testing::TempDir> folder_;
};

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--child") == 0) {
      return corvana::testing::RunChildMode(argc - i - 1, argv + i + 1);
    }
  }
  corvana::platform::SetEventReporter(&corvana::testing::RecordedEvents());
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FolderPerTest);
  return RUN_ALL_TESTS();
}
