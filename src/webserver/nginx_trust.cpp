#include "webserver/nginx_trust.h"

#include "platform/env.h"

namespace corvana {
namespace {

constexpr char kFolder[] = "webserver";
constexpr char kProgram[] = "nginx.exe";

std::string ReasonFor(const platform::TrustResult& result) {
  using platform::TrustVerdict;
  switch (result.verdict) {
    case TrustVerdict::kTrusted:
      return "";
    case TrustVerdict::kMissing:
      return "does not exist";
    case TrustVerdict::kLink:
      return "is reached through a link";
    case TrustVerdict::kWrongType:
      return "is not a regular file in a folder";
    case TrustVerdict::kWrongOwner:
      return "is owned by a non-administrator";
    case TrustVerdict::kChangeable:
      return "can be changed by non-administrators";
    case TrustVerdict::kRemovable:
      return "can be moved away by non-administrators";
    case TrustVerdict::kCannotCheck:
      break;
  }
  return "cannot be checked: " + result.detail;
}

}  // namespace

NginxTrust CheckNginxTrust(const std::string& home_path,
                           platform::HeldProgram* held) {
  NginxTrust trust;
  trust.path = home_path + kFolder + platform::kPathSeparator + kProgram;
  const platform::TrustResult result =
      platform::CheckProgramTrust(home_path, kFolder, kProgram, held);
  trust.present = result.verdict != platform::TrustVerdict::kMissing;
  trust.trusted = result.verdict == platform::TrustVerdict::kTrusted;
  trust.reason = ReasonFor(result);
  return trust;
}

NginxTrust CheckNginxTrust(const std::string& home_path) {
  return CheckNginxTrust(home_path, nullptr);
}

}  // namespace corvana
