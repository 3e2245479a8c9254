#include <gtest/gtest.h>

#include "platform/failure.h"

namespace corvana {
namespace {

// An operator looks the code up in the platform's own tables, so each
// platform names it the way those tables do.
TEST(FailedCallTextTest, NamesTheCallAndItsNativeCode) {
#ifdef _WIN32
  EXPECT_EQ(platform::FailedCallText("CreateFileA", 5),
            "CreateFileA failed with error 5");
#else
  EXPECT_EQ(platform::FailedCallText("openat", 13),
            "openat failed with errno 13");
#endif
}

}  // namespace
}  // namespace corvana
