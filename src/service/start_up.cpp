#include "service/start_up.h"

#include <atomic>

#include "environment/app_context.h"
#include "logging/crash_reporting.h"
#include "logging/events.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/env.h"

namespace corvana {
namespace {

std::atomic<bool> crash_reporting_installed{false};

}  // namespace

void InitAppContext(const char* product_name, const char* version_text,
                    const char* privacy_policy_url) {
  AppContext* context = CreateAppContext(product_name, version_text);
  StartLogFile();
  if (!crash_reporting_installed.load()) {
    // Empty when the system does not tell, and then nothing is loaded.
    InstallCrashReporting(platform::ExecutableFolder(), product_name,
                          version_text, privacy_policy_url);
    crash_reporting_installed.store(true);
  }
  context->logging_enabled.store(true);
  if (!context->home_refusal_reason.empty()) {
    WriteLog(log_line::kHomePathNotUsed + context->home_rejected + " " +
             context->home_refusal_reason);
  }
  if (!context->home_rejected.empty()) {
    ReportHomePathFallback(context->home_rejected,
                           context->home_rejected_reason, WorkingFolderName());
  }
}

}  // namespace corvana
