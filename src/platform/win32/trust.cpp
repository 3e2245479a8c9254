#include "platform/trust.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "platform/failure.h"
#include "platform/win32/held_handles.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/security_descriptor.h"

namespace corvana::platform {

HeldProgram::HeldProgram() : handles_(std::make_unique<Handles>()) {}
HeldProgram::~HeldProgram() = default;

namespace {

// What another account must not hold. The file: any way to change its
// bytes, attributes or extended attributes (write-attributes alone lets it
// become a reparse point), its permissions or its owner, or to delete or
// rename it. The folder: the same, and adding or removing entries. The
// home: removing or renaming itself or its entries, or giving itself that
// right. Generic rights are mapped onto these before the comparison.
constexpr DWORD kTakeOver = WRITE_DAC | WRITE_OWNER;
constexpr DWORD kFileChange = kTakeOver | FILE_WRITE_DATA | FILE_APPEND_DATA |
                              FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | DELETE;
constexpr DWORD kFolderChange = kFileChange | FILE_DELETE_CHILD;
constexpr DWORD kHomeRemove = kTakeOver | FILE_DELETE_CHILD | DELETE;

// NT SERVICE\TrustedInstaller.
constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

TrustResult Verdict(TrustVerdict verdict) { return {verdict, "", ""}; }

TrustResult Failure(const char* call, DWORD error) {
  return {TrustVerdict::kCannotCheck, FailedCallText(call, error), ""};
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

bool IsTrustedSid(PSID sid, ServiceAccount account) {
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

// GENERIC_WRITE and GENERIC_ALL as the file system grants them.
DWORD FileRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE,
                             FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  MapGenericMask(&mask, &mapping);
  return mask;
}

// Deny entries are not credited: an allow entry to another account is
// enough to refuse. Entries that only pass on to children do not apply.
// An entry for the caller's own account counts only when the caller is the
// service: `schedules` asks as a user on the service's behalf.
TrustVerdict JudgeAcl(const ACL* dacl, TrustedObject object,
                      ServiceAccount account) {
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
    if ((FileRights(allowed->Mask) & ForbiddenRights(object)) != 0 &&
        !IsTrustedSid(sid, account)) {
      return broken;
    }
  }
  return TrustVerdict::kTrusted;
}

TrustVerdict JudgeDescriptor(PSID owner, const ACL* dacl, TrustedObject object,
                             ServiceAccount account) {
  if (!IsTrustedSid(owner, account)) return TrustVerdict::kWrongOwner;
  return JudgeAcl(dacl, object, account);
}

// Opened by path through NtOpen, so that another program's oplock on any
// of them answers "in use" at once rather than stalling the service; never
// following a reparse point, which is judged as itself.
NtOpened OpenByPath(const std::string& path, ACCESS_MASK access, ULONG share) {
  return NtOpen(nullptr, path, access, share, FILE_OPEN, FILE_OPEN_REPARSE_POINT);
}

// A folder the service works in is held sharing reads and writes, so that
// users go on writing definitions, but not deletion, so that it cannot be
// renamed away. When another program holds it without sharing, it is held
// for attributes and permissions alone, which no share mode refuses: that
// program's own handle keeps it from being renamed while it lasts.
NtOpened OpenFolderToHold(const std::string& path) {
  const NtOpened held =
      OpenByPath(path, GENERIC_READ | FILE_TRAVERSE | READ_CONTROL,
                 FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!held.InUse()) return held;
  return OpenByPath(path, FILE_READ_ATTRIBUTES | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

// nginx's folder needs its data to be listed, and nginx.exe shares reads
// only, so that neither can be changed or renamed while nginx.exe starts.
NtOpened OpenHeld(const std::string& path, TrustedObject object) {
  switch (object) {
    case TrustedObject::kHome:
      return OpenFolderToHold(path);
    case TrustedObject::kFolder:
      return OpenByPath(path, GENERIC_READ | READ_CONTROL,
                        FILE_SHARE_READ | FILE_SHARE_WRITE);
    case TrustedObject::kFile:
      break;
  }
  return OpenByPath(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ);
}

TrustResult OpenFailure(const NtOpened& opened) {
  const DWORD error = opened.Error();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return Verdict(TrustVerdict::kMissing);
  }
  if (opened.InUse()) return Verdict(TrustVerdict::kInUse);
  return Failure("NtCreateFile", error);
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

// The listing's names in the ANSI code page, as the rest of the service
// spells names; an entry without one matches nothing.
std::string AnsiName(const WCHAR* name, DWORD bytes) {
  const int length = static_cast<int>(bytes / sizeof(WCHAR));
  const int size =
      WideCharToMultiByte(CP_ACP, 0, name, length, nullptr, 0, nullptr, nullptr);
  if (length == 0 || size <= 0) return "";
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, name, length, text.data(), size, nullptr, nullptr);
  return text;
}

// Opened by its id relative to the held folder, so that no name is
// resolved again, and as itself when it is a reparse point. One that
// cannot be opened, even one removed since the listing, refuses.
TrustResult JudgeEntry(HANDLE folder, const FILE_ID_BOTH_DIR_INFO& entry,
                       ServiceAccount account) {
  const NtOpened opened = NtOpenById(
      folder, entry.FileId.QuadPart, READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN_REPARSE_POINT);
  if (!opened.opened()) {
    if (opened.InUse()) return Verdict(TrustVerdict::kInUse);
    return Failure("NtCreateFile", opened.Error());
  }
  const bool is_folder = (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  TrustResult judged =
      Judge(opened.handle, is_folder ? TrustedObject::kFolder : TrustedObject::kFile,
            account);
  CloseHandle(opened.handle);
  return judged;
}

// One batch of the listing; the first entry of the batch's buffer is
// judged first, then each one the offsets lead to.
TrustResult JudgeBatch(HANDLE folder, const BYTE* batch,
                       const std::string& program, ServiceAccount account) {
  for (;;) {
    const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(batch);
    const std::string name = AnsiName(entry.FileName, entry.FileNameLength);
    const std::string short_name =
        AnsiName(entry.ShortName, static_cast<DWORD>(entry.ShortNameLength));
    if (IsLoadableBeside(name, program) ||
        (!short_name.empty() && IsLoadableBeside(short_name, program))) {
      TrustResult judged = JudgeEntry(folder, entry, account);
      if (judged.verdict == TrustVerdict::kInUse) {
        return {TrustVerdict::kInUse, "", name};
      }
      if (judged.verdict != TrustVerdict::kTrusted) {
        return {TrustVerdict::kLoadsUntrusted, judged.detail, name};
      }
    }
    if (entry.NextEntryOffset == 0) return Verdict(TrustVerdict::kTrusted);
    batch += entry.NextEntryOffset;
  }
}

// What the program could load from its own folder, listed through the held
// folder handle.
TrustResult JudgeLoadable(HANDLE folder, const std::string& program,
                          ServiceAccount account) {
  std::vector<LONGLONG> buffer(8192);  // 64 KiB, aligned as the call needs
  FILE_INFO_BY_HANDLE_CLASS batch_kind = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(
            folder, batch_kind, buffer.data(),
            static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
      const DWORD error = GetLastError();
      if (error == ERROR_NO_MORE_FILES) return Verdict(TrustVerdict::kTrusted);
      return Failure("GetFileInformationByHandleEx", error);
    }
    batch_kind = FileIdBothDirectoryInfo;
    TrustResult judged = JudgeBatch(
        folder, reinterpret_cast<const BYTE*>(buffer.data()), program, account);
    if (judged.verdict != TrustVerdict::kTrusted) return judged;
  }
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

TrustResult CheckHomeFolder(const std::string& home, ServiceAccount account,
                            HeldFolder* held) {
  const NtOpened opened = OpenFolderToHold(WithoutTrailingSeparator(home));
  if (!opened.opened()) return OpenFailure(opened);
  HANDLE handle = opened.handle;
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
  held->handle().path = home;
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
    const NtOpened opened = OpenHeld(link.path, link.object);
    if (!opened.opened()) return OpenFailure(opened);
    *link.handle = opened.handle;
  }
  for (const auto& link : chain) {
    TrustResult judged = Judge(*link.handle, link.object, account);
    if (judged.verdict != TrustVerdict::kTrusted) return judged;
  }
  return JudgeLoadable(handles.folder, file, account);
}

TrustVerdict JudgeSecurityDescriptorText(const std::string& sddl,
                                         TrustedObject object,
                                         ServiceAccount account) {
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
      JudgeDescriptor(owner, present ? dacl : nullptr, object, account);
  LocalFree(descriptor);
  return verdict;
}

}  // namespace corvana::platform
