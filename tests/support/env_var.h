// Environment variables set by a test and put back after it.
#pragma once

#include <optional>
#include <string>

namespace corvana::testing {

// nullopt removes the variable; so does an empty value on Windows.
void SetEnvVar(const char* name, const std::optional<std::string>& value);

// Sets a variable for the life of the object, then puts the old value back.
class ScopedEnvVar {
 public:
  ScopedEnvVar(const char* name, const std::optional<std::string>& value);
  ~ScopedEnvVar();
  ScopedEnvVar(const ScopedEnvVar&) = delete;
  ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace corvana::testing
