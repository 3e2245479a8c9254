#include "logging/crash_reporting.h"

#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/log_lines.h"

namespace corvana {
namespace {

constexpr const char kEmailTo[] = "crash-reports@example.com";
constexpr const char kFeedbackUrl[] =
    "https://www.example.com/corvana/crash-report";
constexpr const char kEmailSubject[] = "Crash Report";
constexpr const char kLogDescription[] = "Processing Log File";
constexpr int kErrorMessageSize = 256;

// Process-wide and never released: the library keeps calling back into us
// until the process ends, and the callback needs crAddFile2A.
struct CrashLibrary {
  CrInstallAFunction install = nullptr;
  CrAddFile2AFunction add_file = nullptr;
  CrGetLastErrorMsgAFunction last_error_message = nullptr;
};

CrashLibrary& Loaded() {
  static auto* library = new CrashLibrary;
  return *library;
}

template <typename Function>
bool Resolve(platform::Library* library, const char* name, Function* out) {
  *out = reinterpret_cast<Function>(platform::FindLibrarySymbol(library, name));
  return *out != nullptr;
}

bool LoadEntryPoints(const std::string& folder, CrashLibrary* out) {
  platform::Library library;
  if (folder.empty() ||
      !platform::OpenLibrary(folder + CrashLibraryFileName(), &library)) {
    return false;  // no library, no crash reports, nothing to say
  }
  if (!Resolve(&library, "crInstallA", &out->install) ||
      !Resolve(&library, "crAddFile2A", &out->add_file) ||
      !Resolve(&library, "crGetLastErrorMsgA", &out->last_error_message)) {
    // Somebody else's library under that name: calling into it would crash.
    WriteLog(log_line::kCrashReportInitError);
    WriteLog(library.error);
    return false;
  }
  return true;
}

// The folder block that goes into the log before the library takes a copy.
void WriteSystemInformation() {
  const AppContext* context = GetAppContext();
  if (context == nullptr) return;
  const std::string lines[] = {
      "Sys Info: " + std::string(37, '='),
      "TEMP=" + context->temp_folder,
      "Program=",  // the scheduler names no program folder of its own
      "User AppData=" + context->HomePath,
      "All Users AppData=" + context->common_appdata_folder,
      std::string(47, '='),
  };
  // Straight to the file: the block is wanted even when logging is switched
  // off.
  for (const std::string& line : lines) AppendLogLine(line.c_str(), true);
}

int CORVANA_LIBRARY_CALL OnCrash(void* /*reserved*/) {
  WriteLogWithoutWaiting(log_line::kCrash);
  WriteSystemInformation();
  const CrAddFile2AFunction add_file = Loaded().add_file;
  if (add_file != nullptr) {
    add_file(LogFilePath().c_str(), kLogFileName, kLogDescription, 0);
  }
  return 1;
}

CrashInstallInfo MakeInstallInfo(const char* product_name,
                                 const char* version_text,
                                 const char* privacy_policy_url) {
  CrashInstallInfo info{};
  info.cb = sizeof info;
  info.pszAppName = product_name;
  info.pszAppVersion = version_text;
  info.pszEmailTo = kEmailTo;
  info.pszEmailSubject = kEmailSubject;
  info.pszUrl = kFeedbackUrl;
  info.pfnCrashCallback = &OnCrash;
  // Indexed by transport (HTTP, SMTP, Simple MAPI); the highest goes first.
  info.uPriorities[0] = 3;
  info.uPriorities[1] = 2;
  info.uPriorities[2] = 1;
  info.dwFlags = 0;
  info.pszPrivacyPolicyURL = privacy_policy_url;
  return info;
}

void LogInstallResult(int install_result) {
  const CrashLibrary& library = Loaded();
  if (install_result == 0) {
    WriteLog(log_line::kCrashReportInitOk);
    return;
  }
  char message[kErrorMessageSize] = {};
  library.last_error_message(message, kErrorMessageSize);
  message[kErrorMessageSize - 1] = '\0';  // not trusted to end the text
  WriteLog(log_line::kCrashReportInitError);
  WriteLog(message);
}

}  // namespace

int InstallCrashReporting(const std::string& library_folder,
                          const char* product_name, const char* version_text,
                          const char* privacy_policy_url) {
  CrashLibrary found;
  if (!LoadEntryPoints(library_folder, &found)) return 0;
  Loaded() = found;
  CrashInstallInfo info =
      MakeInstallInfo(product_name, version_text, privacy_policy_url);
  LogInstallResult(found.install(&info));
  return 1;
}

}  // namespace corvana
