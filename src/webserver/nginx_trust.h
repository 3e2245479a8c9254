// Whether the nginx.exe of the web-server folder may be run as the system.
#pragma once

#include <string>

#include "platform/trust.h"

namespace corvana {

// nginx runs from its folder in HomePath, and only from there.
inline constexpr char kNginxFolder[] = "webserver";
inline constexpr char kNginxProgram[] = "nginx.exe";

// home_path + "webserver" + separator + "nginx.exe"
std::string NginxPath(const std::string& home_path);

struct NginxTrust {
  bool present = false;  // nginx.exe and its folder exist
  bool trusted = false;  // it would be started
  // Not now: another program holds one of the files open without sharing
  // it, or an oplock on one is being broken.
  bool in_use = false;
  // Why it would not be started, as the log line gives it after the path;
  // empty when trusted.
  std::string reason;
  std::string path;  // NginxPath(home_path)
};

// Decides, without starting or logging anything, whether the web-server
// command of a service running as `account` would run home_path's
// nginx.exe. `home_path` is HomePath: empty or ending with the platform's
// separator.
NginxTrust CheckNginxTrust(const std::string& home_path,
                           platform::ServiceAccount account);

// As CheckNginxTrust, keeping the checked handles open in `held` so that
// the program can be started before anything can be swapped.
NginxTrust CheckNginxTrust(const std::string& home_path,
                           platform::ServiceAccount account,
                           platform::HeldProgram* held);

}  // namespace corvana
