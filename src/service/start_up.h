// The scheduler's start-up of its context: folders first, then the log,
// then crash reporting, and only then the switch that lets lines through.
#pragma once

namespace corvana {

// Creates the context, settles HomePath after a test write, starts the log
// file, installs crash reporting once per process and switches logging on.
void InitAppContext(const char* product_name, const char* version_text,
                    const char* privacy_policy_url);

}  // namespace corvana
