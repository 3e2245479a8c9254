// Environment variables as the context reads them, the same on both builds.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/env.h"
#include "support/fixtures.h"

namespace corvana {
namespace {

constexpr char kName[] = "CORVANA_ENV_CONTRACT";

// Values around the sizes where a buffer may be too small by one, up to the
// longest a variable can be.
TEST(EnvContractTest, ValueIsReadWholeWhateverItsLength) {
  for (size_t length : {1u, 2u, 259u, 260u, 261u, 4096u, 32000u}) {
    const std::string value(length, 'v');
    testing::SetEnvVar(kName, value);
    EXPECT_EQ(platform::GetEnv(kName), std::optional<std::string>(value)) << length;
  }
  testing::SetEnvVar(kName, std::nullopt);
  EXPECT_EQ(platform::GetEnv(kName), std::nullopt);
}

}  // namespace
}  // namespace corvana
