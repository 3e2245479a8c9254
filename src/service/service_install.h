// Registering the scheduler as the service RavoScheduler, and removing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/service.h"

namespace corvana {

// The service reports under its own name, so that an administrator finds
// its events by the name the service manager shows.
inline constexpr const char* kServiceName = platform::kEventSourceName;
// The scheduler's own argument on the registered command line, so that a
// start by the service manager reaches the dispatcher.
inline constexpr const char kServiceArgument[] = "--service";
inline constexpr const char kServiceDescription[] =
    "Starts Corvana's scheduled analyses and report web-site updates.";

// What went wrong, for the person who ran --install or --uninstall: the log
// is not open in that process, so the texts would be lost otherwise.
struct InstallErrors {
  std::vector<std::string> texts;
  platform::ServiceError last_error = platform::ServiceError::kNone;
  bool manager_unavailable = false;
};

// folder: the scheduler's folder, without a trailing separator. True when
// the service was started after registration.
bool InstallService(const std::string& folder, InstallErrors* errors = nullptr);
// True when the service was deleted.
bool UninstallService(InstallErrors* errors = nullptr);

// The registered command line: the quoted image path (a path with blanks
// must never let C:\Program.exe run) and the service argument.
std::string ServiceCommandLine(const std::string& folder);

bool CreateServiceEntry(const std::string& command_line,
                        const std::string& name,
                        const std::string& display_name,
                        InstallErrors* errors = nullptr);
bool StartServiceByName(const std::string& name, InstallErrors* errors = nullptr);
bool StopServiceByName(const std::string& name);
bool DeleteServiceEntry(const std::string& name, InstallErrors* errors = nullptr);

}  // namespace corvana
