// A stand-in for the crash-reporting library with its three entry points,
// built as "CrashRpt1402.dll" on Windows and "libCrashRpt1402.so" elsewhere.
#include "helpers/crashrpt_standin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using corvana::CrashCallback;
using corvana::CrashInstallInfo;
using corvana::testing::StandInRecord;

StandInRecord record;
bool fail_install = false;
CrashCallback installed_callback = nullptr;
char last_error[256] = "";

template <size_t N>
void CopyText(char (&out)[N], const char* text) {
  std::snprintf(out, N, "%s", text ? text : "");
}

void Trace(const char* entry) {
  const char* trace_file = std::getenv(corvana::testing::kStandInTraceVariable);
  if (trace_file == nullptr || *trace_file == '\0') return;
  std::FILE* file = std::fopen(trace_file, "ab");  // same bytes everywhere
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", entry);
  std::fclose(file);
}

}  // namespace

STANDIN_EXPORT int CORVANA_LIBRARY_CALL crInstallA(CrashInstallInfo* info) {
  Trace("crInstallA");
  ++record.install_calls;
  if (info == nullptr) {
    CopyText(last_error, "no install record");
    return 1;
  }
  record.info = *info;
  CopyText(record.app_name, info->pszAppName);
  CopyText(record.app_version, info->pszAppVersion);
  CopyText(record.email_to, info->pszEmailTo);
  CopyText(record.email_subject, info->pszEmailSubject);
  CopyText(record.url, info->pszUrl);
  CopyText(record.privacy_policy_url, info->pszPrivacyPolicyURL);
  if (fail_install) {
    CopyText(last_error, corvana::testing::kStandInRefusal);
    return 1;
  }
  installed_callback = info->pfnCrashCallback;
  return 0;
}

STANDIN_EXPORT int CORVANA_LIBRARY_CALL crAddFile2A(const char* file,
                                              const char* dest_name,
                                              const char* description,
                                              uint32_t flags) {
  ++record.add_file_calls;
  CopyText(record.added_file, file);
  CopyText(record.added_dest_name, dest_name);
  CopyText(record.added_description, description);
  record.added_flags = flags;
  return 0;
}

STANDIN_EXPORT int CORVANA_LIBRARY_CALL crGetLastErrorMsgA(char* buffer,
                                                     unsigned int size) {
  if (buffer == nullptr || size == 0) return -1;
  std::snprintf(buffer, size, "%s", last_error);
  return static_cast<int>(std::strlen(buffer));
}

STANDIN_EXPORT void StandInReset(int fail) {
  std::memset(&record, 0, sizeof record);
  fail_install = fail != 0;
  installed_callback = nullptr;
  last_error[0] = '\0';
}

STANDIN_EXPORT const StandInRecord* StandInGetRecord() { return &record; }

STANDIN_EXPORT int StandInCrash() {
  if (installed_callback == nullptr) return -1;
  return installed_callback(nullptr);
}
