// Environment variables as the context reads them, the same on both builds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/env.h"

namespace corvana {
namespace {

constexpr char kName[] = "CORVANA_ENV_CONTRACT";

void Set(const std::string& value) {
#ifdef _WIN32
  _putenv_s(kName, value.c_str());  // an empty value removes it
#else
  if (value.empty()) {
    unsetenv(kName);
  } else {
    setenv(kName, value.c_str(), 1);
  }
#endif
}

// Values around the sizes where a buffer may be too small by one, up to the
// longest a variable can be.
TEST(EnvContractTest, ValueIsReadWholeWhateverItsLength) {
  for (size_t length : {1u, 2u, 259u, 260u, 261u, 4096u, 32000u}) {
    const std::string value(length, 'v');
    Set(value);
    EXPECT_EQ(platform::GetEnv(kName), std::optional<std::string>(value)) << length;
  }
  Set("");
  EXPECT_EQ(platform::GetEnv(kName), std::nullopt);
}

}  // namespace
}  // namespace corvana
