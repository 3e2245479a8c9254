#include "platform/trust.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "platform/failure.h"
#include "platform/win32/held_handles.h"

namespace corvana::platform {

HeldProgram::HeldProgram() : handles_(std::make_unique<Handles>()) {}
HeldProgram::~HeldProgram() = default;

namespace {

// What another account must not hold. The file: any way to change its
// bytes, its permissions or its owner, or to delete or rename it. The
// folder: the same, and adding or removing entries. The home: removing or
// renaming its entries, or giving itself that right.
constexpr DWORD kTakeOver = WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
constexpr DWORD kFileChange = kTakeOver | FILE_WRITE_DATA | FILE_APPEND_DATA |
                              DELETE | GENERIC_WRITE;
constexpr DWORD kFolderChange = kFileChange | FILE_DELETE_CHILD;
constexpr DWORD kHomeRemove = kTakeOver | FILE_DELETE_CHILD;

// NT SERVICE\TrustedInstaller.
constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

TrustResult Verdict(TrustVerdict verdict) { return {verdict, ""}; }

TrustResult Failure(const char* call, DWORD error) {
  return {TrustVerdict::kCannotCheck, FailedCallText(call, error)};
}

// The account of this process's token, as the service's own account.
std::vector<BYTE> ProcessUser() {
  HANDLE token = nullptr;
  std::vector<BYTE> user;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size > 0 &&
      GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    user.assign(static_cast<BYTE*>(sid),
                static_cast<BYTE*>(sid) + GetLengthSid(sid));
  }
  CloseHandle(token);
  return user;
}

bool IsTrustedSid(PSID sid,
                  ServiceAccount account = ServiceAccount::kThisProcess) {
  if (sid == nullptr || !IsValidSid(sid)) return false;
  if (IsWellKnownSid(sid, WinLocalSystemSid) ||
      IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
    return true;
  }
  PSID installer = nullptr;
  if (ConvertStringSidToSidA(kTrustedInstaller, &installer)) {
    const bool same = EqualSid(sid, installer) != FALSE;
    LocalFree(installer);
    if (same) return true;
  }
  static const std::vector<BYTE> self = ProcessUser();
  return account == ServiceAccount::kThisProcess && !self.empty() &&
         EqualSid(sid, const_cast<BYTE*>(self.data())) != FALSE;
}

DWORD ForbiddenRights(TrustedObject object) {
  switch (object) {
    case TrustedObject::kHome:
      return kHomeRemove;
    case TrustedObject::kFolder:
      return kFolderChange;
    case TrustedObject::kFile:
      break;
  }
  return kFileChange;
}

// Deny entries are not credited: an allow entry to another account is
// enough to refuse. Entries that only pass on to children do not apply.
TrustVerdict JudgeAcl(const ACL* dacl, TrustedObject object) {
  const TrustVerdict broken = object == TrustedObject::kHome
                                  ? TrustVerdict::kRemovable
                                  : TrustVerdict::kChangeable;
  if (dacl == nullptr) return broken;  // a null DACL grants everyone all
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &entry)) return broken;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      // Other allow kinds (callback, object) are not read here.
      if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
      return broken;
    }
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & ForbiddenRights(object)) != 0 && !IsTrustedSid(sid)) {
      return broken;
    }
  }
  return TrustVerdict::kTrusted;
}

TrustVerdict JudgeDescriptor(PSID owner, const ACL* dacl, TrustedObject object,
                             ServiceAccount account = ServiceAccount::kThisProcess) {
  if (!IsTrustedSid(owner, account)) return TrustVerdict::kWrongOwner;
  return JudgeAcl(dacl, object);
}

// The folders are held sharing reads and writes, so that users go on
// writing definitions, but not deletion, so that neither can be renamed
// while nginx.exe starts; nginx.exe itself shares reads only.
HANDLE OpenHeld(const std::string& path, TrustedObject object) {
  const bool folder = object != TrustedObject::kFile;
  const DWORD share = folder ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT |
                      (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  return CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, share, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

TrustResult OpenFailure(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return Verdict(TrustVerdict::kMissing);
  }
  return Failure("CreateFileA", error);
}

TrustResult Judge(HANDLE handle, TrustedObject object, ServiceAccount account) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    return Failure("GetFileInformationByHandle", GetLastError());
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return Verdict(TrustVerdict::kLink);
  }
  const bool is_folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (is_folder != (object != TrustedObject::kFile)) {
    return Verdict(TrustVerdict::kWrongType);
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(
      handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
      &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return Failure("GetSecurityInfo", error);
  const TrustVerdict verdict = JudgeDescriptor(owner, dacl, object, account);
  LocalFree(descriptor);
  return Verdict(verdict);
}

std::string WithoutTrailingSeparator(const std::string& path) {
  if (path.empty()) return ".";
  std::string trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/') &&
         trimmed[trimmed.size() - 2] != ':') {
    trimmed.pop_back();
  }
  return trimmed;
}

}  // namespace

bool OwnedByTrusted(HANDLE handle, ServiceAccount account) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                      nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = IsTrustedSid(owner, account);
  LocalFree(descriptor);
  return trusted;
}

// Held without FILE_SHARE_DELETE, so that nobody renames the data folder
// away while the service works in it.
TrustResult CheckHomeFolder(const std::string& home, ServiceAccount account,
                            HeldFolder* held) {
  HANDLE handle = CreateFileA(
      WithoutTrailingSeparator(home).c_str(),
      GENERIC_READ | FILE_TRAVERSE | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) return OpenFailure(GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  TrustResult judged = Verdict(TrustVerdict::kTrusted);
  if (!GetFileInformationByHandle(handle, &info)) {
    judged = Failure("GetFileInformationByHandle", GetLastError());
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    judged = Verdict(TrustVerdict::kLink);
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    judged = Verdict(TrustVerdict::kWrongType);
  } else if (!OwnedByTrusted(handle, account)) {
    judged = Verdict(TrustVerdict::kWrongOwner);
  }
  if (judged.verdict != TrustVerdict::kTrusted) {
    CloseHandle(handle);
    return judged;
  }
  held->handle().Reset(handle);
  return judged;
}

TrustResult CheckProgramTrust(const std::string& home,
                              const std::string& folder,
                              const std::string& file, ServiceAccount account,
                              HeldProgram* held) {
  HeldProgram local;
  HeldProgram::Handles& handles = (held != nullptr ? held : &local)->handles();
  handles.Close();
  const std::string folder_path = home + folder;
  const struct {
    HANDLE* handle;
    std::string path;
    TrustedObject object;
  } chain[] = {
      {&handles.home, WithoutTrailingSeparator(home), TrustedObject::kHome},
      {&handles.folder, folder_path, TrustedObject::kFolder},
      {&handles.file, folder_path + "\\" + file, TrustedObject::kFile},
  };
  for (const auto& link : chain) {
    *link.handle = OpenHeld(link.path, link.object);
    if (*link.handle == INVALID_HANDLE_VALUE) return OpenFailure(GetLastError());
  }
  for (const auto& link : chain) {
    TrustResult judged = Judge(*link.handle, link.object, account);
    if (judged.verdict != TrustVerdict::kTrusted) return judged;
  }
  return Verdict(TrustVerdict::kTrusted);
}

TrustVerdict JudgeSecurityDescriptorText(const std::string& sddl,
                                         TrustedObject object) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return TrustVerdict::kCannotCheck;
  }
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const TrustVerdict verdict =
      JudgeDescriptor(owner, present ? dacl : nullptr, object);
  LocalFree(descriptor);
  return verdict;
}

}  // namespace corvana::platform
