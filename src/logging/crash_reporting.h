// Crash reports through the optional crash-reporting library (CrashRpt
// 1.4.2), loaded at run time from the scheduler's own folder and never
// linked against. Without it the scheduler runs on without crash reports.
#pragma once

#include <cstdint>
#include <string>

#include "platform/library.h"

namespace corvana {

// "CrashRpt1402.dll", and on POSIX a shared library with the same three
// entry points, "libCrashRpt1402.so".
inline std::string CrashLibraryFileName() {
  return platform::LibraryFileName("CrashRpt1402");
}

// Called by the library when it prepares a report; the argument is unused.
// Returns nonzero to let the report go on.
using CrashCallback = int(CORVANA_LIBRARY_CALL*)(void* reserved);

// The library's published ANSI install record (CR_INSTALL_INFOA, release 1.4
// layout), member for member, in portable types: WORD, UINT and DWORD are
// 16, 32 and 32 bits, MINIDUMP_TYPE is a 32-bit enum.
struct CrashInstallInfo {
  uint16_t cb;  // sizeof(CrashInstallInfo)
  const char* pszAppName;
  const char* pszAppVersion;
  const char* pszEmailTo;
  const char* pszEmailSubject;
  const char* pszUrl;
  const char* pszCrashSenderPath;
  CrashCallback pfnCrashCallback;
  uint32_t uPriorities[5];
  uint32_t dwFlags;
  const char* pszPrivacyPolicyURL;
  const char* pszDebugHelpDLL;
  uint32_t uMiniDumpType;
  const char* pszErrorReportSaveDir;
  const char* pszRestartCmdLine;
  const char* pszLangFilePath;
  const char* pszEmailText;
  const char* pszSmtpProxy;
  const char* pszCustomSenderIcon;
  const char* pszSmtpLogin;
  const char* pszSmtpPassword;
  int nRestartTimeout;
};
// The library checks cb against the sizes it knows: 104 bytes is the 32-bit
// layout, 184 the 64-bit one (pointers 8-aligned, trailing int padded).
static_assert(sizeof(CrashInstallInfo) == (sizeof(void*) == 4 ? 104 : 184),
              "CrashInstallInfo must match the library's record");

// The library's entry points, all returning 0 on success.
using CrInstallAFunction = int(CORVANA_LIBRARY_CALL*)(CrashInstallInfo* info);
using CrAddFile2AFunction = int(CORVANA_LIBRARY_CALL*)(const char* file,
                                                 const char* dest_name,
                                                 const char* description,
                                                 uint32_t flags);
using CrGetLastErrorMsgAFunction = int(CORVANA_LIBRARY_CALL*)(char* buffer,
                                                        unsigned int size);

// Loads the library from `library_folder` (ending with the path separator;
// the service gives the executable's own, and nowhere else is looked in)
// and installs it. 0 when it could not be loaded, else 1 whatever the
// install gave. An empty folder loads nothing.
int InstallCrashReporting(const std::string& library_folder,
                          const char* product_name, const char* version_text,
                          const char* privacy_policy_url);

}  // namespace corvana
