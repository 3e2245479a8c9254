// The test binary doubles as its own child process for real-process tests:
// "--child <mode> ..." runs a small helper instead of the suites. The marker
// need not be the first argument: a child started from an unquoted command
// line whose path holds blanks sees the pieces of that path before it.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/seams.h"
#include "support/child_modes.h"
#include "support/fixtures.h"

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--child") == 0) {
      return corvana::testing::RunChildMode(argc - i - 1, argv + i + 1);
    }
  }
  corvana::platform::SetEventReporter(&corvana::testing::RecordedEvents());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
