// The process entry: install, uninstall, or run as the service.
#pragma once

#include <cstdio>

#include "service/service_install.h"

namespace corvana {

// Prints its messages to `out`, and why an install or uninstall failed to
// `err`. Returns the process exit status.
int SchedulerMain(int argc, char** argv, std::FILE* out, std::FILE* err);
// The exit status of --install or --uninstall.
int ServiceCommandStatus(bool succeeded, const InstallErrors& errors);

}  // namespace corvana
