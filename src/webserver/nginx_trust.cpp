#include "webserver/nginx_trust.h"

#include "platform/env.h"

namespace corvana {
namespace {

constexpr char kFolder[] = "webserver";
constexpr char kProgram[] = "nginx.exe";

std::string Hex(unsigned char byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
}

// Entry names are users' bytes. C0 controls, DEL and C1 controls, raw or
// as UTF-8's two bytes, would act on the terminal of whoever reads the log;
// they appear as \xNN. Other UTF-8 sequences pass as they are.
std::string Escaped(const std::string& name) {
  std::string text;
  int continuation = 0;  // bytes still due in a UTF-8 sequence
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    const unsigned char next =
        i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
    if (continuation > 0 && byte >= 0x80 && byte < 0xC0) {
      --continuation;
      text += name[i];
      continue;
    }
    continuation = 0;
    if (byte == 0xC2 && next >= 0x80 && next < 0xA0) {
      text += Hex(byte) + Hex(next);
      ++i;
    } else if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0)) {
      text += Hex(byte);
    } else {
      continuation = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
      text += name[i];
    }
  }
  return text;
}

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
    case TrustVerdict::kLoadsUntrusted:
      return "would load '" + Escaped(result.entry) +
             "', which is a link or which non-administrators own or can "
             "change" +
             (result.detail.empty() ? "" : ": " + result.detail);
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
