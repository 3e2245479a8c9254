#include "logging/start_up.h"

#include <atomic>

#include "environment/app_context.h"
#include "logging/crash_reporting.h"
#include "logging/events.h"
#include "logging/log.h"
#include "platform/env.h"

namespace corvana {
namespace {

std::atomic<bool> crash_reporting_installed{false};

}  // namespace

bool CrashReportingInstalled() { return crash_reporting_installed.load(); }

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
  if (!context->home_refusal.empty()) WriteLog(context->home_refusal);
  if (!context->home_rejected.empty()) {
    ReportHomePathFallback(context->home_rejected,
                           context->home_rejected_reason, context->HomePath);
  }
}

}  // namespace corvana
