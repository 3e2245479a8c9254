#include "webserver/nginx_trust.h"

#include "platform/env.h"

namespace corvana {
namespace {

constexpr char kFolder[] = "webserver";
constexpr char kProgram[] = "nginx.exe";

}  // namespace

NginxTrust CheckNginxTrust(const std::string& home_path,
                           platform::ServiceAccount account,
                           platform::HeldProgram* held) {
  NginxTrust trust;
  trust.path = home_path + kFolder + platform::kPathSeparator + kProgram;
  const platform::TrustResult result =
      platform::CheckProgramTrust(home_path, kFolder, kProgram, account, held);
  trust.present = result.verdict != platform::TrustVerdict::kMissing;
  trust.trusted = result.verdict == platform::TrustVerdict::kTrusted;
  trust.reason = platform::TrustReason(result);
  return trust;
}

NginxTrust CheckNginxTrust(const std::string& home_path,
                           platform::ServiceAccount account) {
  return CheckNginxTrust(home_path, account, nullptr);
}

}  // namespace corvana
