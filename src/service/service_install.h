// Registering the scheduler as the service RavoScheduler, and removing it.
#pragma once

#include <cstdint>
#include <string>

namespace corvana {

inline constexpr const char kServiceName[] = "RavoScheduler";
// The scheduler's own argument on the registered command line, so that a
// start by the service manager reaches the dispatcher.
inline constexpr const char kServiceArgument[] = "--service";

// folder: the scheduler's folder, without a trailing separator. True when
// the service was started after registration.
bool InstallService(const std::string& folder);
// True when the service was deleted.
bool UninstallService();

// The registered command line: the quoted image path (a path with blanks
// must never let C:\Program.exe run) and the service argument.
std::string ServiceCommandLine(const std::string& folder);

bool CreateServiceEntry(const std::string& command_line,
                        const std::string& name,
                        const std::string& display_name);
bool StartServiceByName(const std::string& name);
bool StopServiceByName(const std::string& name);
bool DeleteServiceEntry(const std::string& name);

// The texts logged for a failed create and a failed start; empty when a
// create error has no text.
std::string CreateErrorText(uint32_t error);
std::string StartErrorText(uint32_t error);

}  // namespace corvana
