#include "support/env_var.h"

#include <cstdlib>

#include "platform/env.h"

namespace corvana::testing {

void SetEnvVar(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s(name, value.value_or("").c_str());
#else
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
#endif
}

ScopedEnvVar::ScopedEnvVar(const char* name,
                           const std::optional<std::string>& value)
    : name_(name), old_(platform::GetEnv(name)) {
  SetEnvVar(name, value);
}

ScopedEnvVar::~ScopedEnvVar() { SetEnvVar(name_, old_); }

}  // namespace corvana::testing
