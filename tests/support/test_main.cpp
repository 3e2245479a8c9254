// The test binary doubles as its own child process for real-process tests:
// "--child <mode> ..." runs a small helper instead of the suites.
#include <gtest/gtest.h>

#include <cstring>

#include "support/child_modes.h"

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
    return corvana::testing::RunChildMode(argc - 2, argv + 2);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
