#include "platform/trust.h"

namespace corvana::platform {

std::string TrustReason(const TrustResult& result) {
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
    case TrustVerdict::kLoadsUntrusted:
      return "would load a file that non-administrators own or can change";
    case TrustVerdict::kInUse:
      return "is held open by another program";
    case TrustVerdict::kCannotCheck:
      break;
  }
  return "cannot be checked: " + result.detail;
}

}  // namespace corvana::platform
