// NtCreateFile, loaded from ntdll: opens a name below a held folder rather
// than by path, and returns at once when another program's opportunistic
// lock is being broken instead of waiting for that program to let go.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <string>

#include "platform/failure.h"

namespace corvana::platform {

struct NtOpened {
  HANDLE handle = INVALID_HANDLE_VALUE;  // valid only when opened
  LONG status = 0;                       // the NTSTATUS of the call
  bool opened() const { return handle != INVALID_HANDLE_VALUE; }
  // Another program holds the file: open without sharing what was asked
  // for, or with an oplock being broken. Worth trying again later.
  bool InUse() const;
  // The status as a Win32 error code, as GetLastError would give it: a
  // pending oplock break reads as ERROR_OPLOCK_BREAK_IN_PROGRESS (742).
  DWORD Error() const;
};

// A failed NtOpen, as the failed call and that code.
inline FailedCall NtOpenFailure(const NtOpened& opened) {
  return {"NtCreateFile", static_cast<int64_t>(opened.Error())};
}

// `root` is a held folder and `name` a name in it, or `root` is nullptr and
// `name` a Windows path. Always synchronous and with
// FILE_COMPLETE_IF_OPLOCKED: an open that would wait for an oplock's break
// is closed again and reported as not opened, with
// STATUS_OPLOCK_BREAK_IN_PROGRESS as its status.
NtOpened NtOpen(HANDLE root, const std::string& name, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options);

// The file of the id `file_id` on the volume of the held folder `root`, by
// that id, with NtOpen's handling of oplocks.
NtOpened NtOpenById(HANDLE root, LONGLONG file_id, ACCESS_MASK access,
                    ULONG share, ULONG options);

// Whatever opens a file for NtOpen and NtOpenById. A test puts a stand-in
// here to give the results Wine cannot (an oplock's break); nullptr puts
// ntdll's back.
using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK,
                                          POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                          PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
void SetNtCreateFile(NtCreateFileFunction function);

// Renames the open file (opened with DELETE access) to `name` in the held
// folder `root`, replacing what that name held: NtSetInformationFile, as
// SetFileInformationByHandle would take the new name as a path from the
// current directory. True on success.
bool NtRenameInto(HANDLE file, HANDLE root, const std::string& name);

}  // namespace corvana::platform
