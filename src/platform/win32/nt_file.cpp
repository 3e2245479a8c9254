#include "platform/win32/nt_file.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace corvana::platform {
namespace {

constexpr LONG kOplockBreakInProgress = 0x00000108;
constexpr LONG kObjectNameInvalid = static_cast<LONG>(0xC0000033);
constexpr LONG kSharingViolation = static_cast<LONG>(0xC0000043);
constexpr LONG kProcedureNotFound = static_cast<LONG>(0xC000007A);

void* FromNtdll(const char* name) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr ? nullptr
                          : reinterpret_cast<void*>(GetProcAddress(ntdll, name));
}

NtCreateFileFunction SystemNtCreateFile() {
  static const auto function =
      reinterpret_cast<NtCreateFileFunction>(FromNtdll("NtCreateFile"));
  return function;
}

std::atomic<NtCreateFileFunction> nt_create_file{nullptr};

using NtSetInformationFileFunction = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK,
                                                  PVOID, ULONG, ULONG);
constexpr ULONG kFileRenameInformation = 10;

// FILE_RENAME_INFORMATION, which not every winternl.h declares.
struct RenameInformation {
  BOOLEAN replace_if_exists;
  HANDLE root_directory;
  ULONG file_name_length;  // in bytes
  WCHAR file_name[1];
};

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      wide.data(), length);
  return wide;
}

// "\??\C:\dir\file" or "\??\UNC\server\share\file" for a Windows path,
// relative ones taken from the current directory; empty when it has none.
std::wstring NtPath(const std::string& path) {
  const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return std::wstring();
  std::vector<char> full(size + 1);
  const DWORD length = GetFullPathNameA(path.c_str(), size + 1, full.data(), nullptr);
  if (length == 0 || length > size) return std::wstring();
  const std::string text(full.data(), length);
  if (text.rfind("\\\\", 0) == 0) return L"\\??\\UNC\\" + Wide(text.substr(2));
  return L"\\??\\" + Wide(text);
}

}  // namespace

bool NtOpened::InUse() const {
  return status == kOplockBreakInProgress || status == kSharingViolation;
}

DWORD NtOpened::Error() const {
  using ToDosError = ULONG(NTAPI*)(LONG);
  static const auto to_dos_error =
      reinterpret_cast<ToDosError>(FromNtdll("RtlNtStatusToDosError"));
  return to_dos_error == nullptr ? ERROR_MR_MID_NOT_FOUND : to_dos_error(status);
}

void SetNtCreateFile(NtCreateFileFunction function) {
  nt_create_file.store(function);
}

namespace {

NtOpened Create(HANDLE root, std::wstring* name, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options) {
  NtCreateFileFunction create = nt_create_file.load();
  if (create == nullptr) create = SystemNtCreateFile();
  NtOpened result;
  if (create == nullptr) {
    result.status = kProcedureNotFound;
    return result;
  }
  if (name->empty() || name->size() * sizeof(wchar_t) > 0xfffe) {
    result.status = kObjectNameInvalid;
    return result;
  }
  UNICODE_STRING object_name;
  object_name.Buffer = name->data();
  object_name.Length = static_cast<USHORT>(name->size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE,
                             root, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  result.status = create(
      &handle, access | SYNCHRONIZE, &attributes, &io, nullptr,
      FILE_ATTRIBUTE_NORMAL, share, disposition,
      options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED, nullptr, 0);
  if (result.status < 0) return result;
  // A success status, with a handle, that would block on the first I/O
  // until the oplock's owner lets go: that owner is another user.
  if (result.status == kOplockBreakInProgress) {
    CloseHandle(handle);
    return result;
  }
  result.handle = handle;
  return result;
}

}  // namespace

NtOpened NtOpen(HANDLE root, const std::string& name, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options) {
  std::wstring wide = root != nullptr ? Wide(name) : NtPath(name);
  return Create(root, &wide, access, share, disposition, options);
}

// The id goes in as the name's eight bytes.
NtOpened NtOpenById(HANDLE root, LONGLONG file_id, ACCESS_MASK access,
                    ULONG share, ULONG options) {
  std::wstring id(sizeof file_id / sizeof(wchar_t), L'\0');
  std::memcpy(id.data(), &file_id, sizeof file_id);
  return Create(root, &id, access, share, FILE_OPEN,
                options | FILE_OPEN_BY_FILE_ID);
}

bool NtRenameInto(HANDLE file, HANDLE root, const std::string& name) {
  static const auto set_information =
      reinterpret_cast<NtSetInformationFileFunction>(
          FromNtdll("NtSetInformationFile"));
  const std::wstring wide = Wide(name);
  if (set_information == nullptr || wide.empty() ||
      wide.size() * sizeof(wchar_t) > 0xfffe) {
    return false;
  }
  const size_t name_bytes = wide.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(RenameInformation) + name_bytes);
  auto* information = reinterpret_cast<RenameInformation*>(buffer.data());
  information->replace_if_exists = TRUE;
  information->root_directory = root;
  information->file_name_length = static_cast<ULONG>(name_bytes);
  std::memcpy(information->file_name, wide.data(), name_bytes);
  IO_STATUS_BLOCK io{};
  return set_information(file, &io, information,
                         static_cast<ULONG>(buffer.size()),
                         kFileRenameInformation) >= 0;
}

}  // namespace corvana::platform
