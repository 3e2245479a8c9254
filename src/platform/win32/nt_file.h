// NtCreateFile, loaded from ntdll: opens a name below a held folder rather
// than by path, and returns at once when another program's opportunistic
// lock is being broken instead of waiting for that program to let go.
#pragma once

#include <windows.h>

#include <string>

#include "platform/failure.h"

namespace corvana::platform {

struct NtOpened {
  HANDLE handle = INVALID_HANDLE_VALUE;  // valid only when opened
  LONG status = 0;                       // the NTSTATUS of the call
  bool opened() const { return handle != INVALID_HANDLE_VALUE; }
};

// `root` is a held folder and `name` a name in it, or `root` is nullptr and
// `name` a Windows path. Always synchronous and with
// FILE_COMPLETE_IF_OPLOCKED: an open that would wait for an oplock's break
// is closed again and reported as not opened, with
// STATUS_OPLOCK_BREAK_IN_PROGRESS as its status.
NtOpened NtOpen(HANDLE root, const std::string& name, ACCESS_MASK access,
                ULONG share, ULONG disposition, ULONG options);

// A failed NtOpen in the system's error codes, as GetLastError gives them
// (RtlNtStatusToDosError): a pending oplock break reads as
// ERROR_OPLOCK_BREAK_IN_PROGRESS (742).
FailedCall NtOpenFailure(const NtOpened& opened);

// Renames the open file (opened with DELETE access) to `name` in the held
// folder `root`, replacing what that name held: NtSetInformationFile, as
// SetFileInformationByHandle would take the new name as a path from the
// current directory. True on success.
bool NtRenameInto(HANDLE file, HANDLE root, const std::string& name);

}  // namespace corvana::platform
