#include "platform/win32/nt_file.h"

#include <winternl.h>

#include <cstring>
#include <vector>

namespace corvana::platform {
namespace {

constexpr LONG kOplockBreakInProgress = 0x00000108;
constexpr LONG kObjectNameInvalid = static_cast<LONG>(0xC0000033);
constexpr LONG kProcedureNotFound = static_cast<LONG>(0xC000007A);

using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                          ULONG, ULONG, ULONG, PVOID, ULONG);

// The native calls that kernel32 does not offer, from ntdll, which every
// process has loaded; nullptr when it lacks one.
template <class Function>
Function NtdllFunction(const char* name) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

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

NtOpened NtOpen(HANDLE root, const std::string& name, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options) {
  static const auto nt_create_file = NtdllFunction<NtCreateFileFunction>("NtCreateFile");
  NtOpened result;
  if (nt_create_file == nullptr) {
    result.status = kProcedureNotFound;
    return result;
  }
  std::wstring wide = root != nullptr ? Wide(name) : NtPath(name);
  if (wide.empty() || wide.size() * sizeof(wchar_t) > 0xfffe) {
    result.status = kObjectNameInvalid;
    return result;
  }
  UNICODE_STRING object_name;
  object_name.Buffer = wide.data();
  object_name.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
  object_name.MaximumLength = object_name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE,
                             root, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  result.status = nt_create_file(
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

FailedCall NtOpenFailure(const NtOpened& opened) {
  using ToErrorFunction = ULONG(NTAPI*)(LONG);
  static const auto to_error = NtdllFunction<ToErrorFunction>("RtlNtStatusToDosError");
  const ULONG status = static_cast<ULONG>(opened.status);
  return {"NtCreateFile", to_error != nullptr ? to_error(opened.status) : status};
}

bool NtRenameInto(HANDLE file, HANDLE root, const std::string& name) {
  static const auto set_information =
      NtdllFunction<NtSetInformationFileFunction>("NtSetInformationFile");
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
