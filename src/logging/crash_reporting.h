// Crash reports through the optional crash-reporting library.
#pragma once

namespace corvana {

// 0 when the library could not be loaded, else 1 whatever the install gave.
int InstallCrashReporting(const char* product_name, const char* version_text,
                          const char* privacy_policy_url);

}  // namespace corvana
