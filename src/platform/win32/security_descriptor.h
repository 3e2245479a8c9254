// The rights decision of the trust check alone, over a security descriptor
// in SDDL text: what CheckProgramTrust applies to the descriptors it reads,
// open to tests without a file that carries each one.
#pragma once

#include <string>

#include "platform/trust.h"

namespace corvana::platform {

TrustVerdict JudgeSecurityDescriptorText(
    const std::string& sddl, TrustedObject object,
    ServiceAccount account = ServiceAccount::kThisProcess);

}  // namespace corvana::platform
