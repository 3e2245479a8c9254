#include "webserver/nginx_trust.h"

#include "platform/env.h"

namespace corvana {
namespace {

// The entry's name is a user's bytes: each writer escapes them.
std::string ReasonFor(const platform::TrustResult& result) {
  if (result.verdict == platform::TrustVerdict::kInUse && !result.entry.empty()) {
    return "would load '" + result.entry + "', which " +
           platform::TrustReason(result);
  }
  if (result.verdict != platform::TrustVerdict::kLoadsUntrusted) {
    return platform::TrustReason(result);
  }
  return "would load '" + result.entry +
         "', which is a link or which non-administrators own or can change" +
         (result.detail.empty() ? "" : ": " + result.detail);
}

}  // namespace

std::string NginxPath(const std::string& home_path) {
  return home_path + kNginxFolder + platform::kPathSeparator + kNginxProgram;
}

NginxTrust CheckNginxTrust(const std::string& home_path,
                           platform::ServiceAccount account,
                           platform::HeldProgram* held) {
  NginxTrust trust;
  trust.path = NginxPath(home_path);
  const platform::TrustResult result = platform::CheckProgramTrust(
      home_path, kNginxFolder, kNginxProgram, account, held);
  trust.present = result.verdict != platform::TrustVerdict::kMissing;
  trust.trusted = result.verdict == platform::TrustVerdict::kTrusted;
  trust.in_use = result.verdict == platform::TrustVerdict::kInUse;
  trust.reason = ReasonFor(result);
  return trust;
}

NginxTrust CheckNginxTrust(const std::string& home_path,
                           platform::ServiceAccount account) {
  return CheckNginxTrust(home_path, account, nullptr);
}

}  // namespace corvana
