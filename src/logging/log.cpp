#include "logging/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "environment/app_context.h"
#include "calendar/packed_time.h"
#include "platform/fs.h"

namespace corvana {

std::string LogFilePath() {
  AppContext* context = GetAppContext();
  return (context ? context->HomePath : std::string()) + kLogFileName;
}

namespace {

std::atomic<LogSink*> log_sink{nullptr};

// Recursive: the crash callback may log from a thread that holds it.
std::recursive_mutex& LogLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}

// Opened per entry, in text mode: the file is complete on disk after every
// line and other programs may read or copy it at any time.
void AppendTo(const AppContext& context, const char* text, bool newline) {
  // Others write in HomePath: a link planted under the log's name must not
  // make the service write elsewhere.
  platform::AppendToOwnFile(context.HomePath + kLogFileName, text, newline);
}

}  // namespace

void AppendLogLine(const char* text, bool newline) {
  AppContext* context = GetAppContext();
  if (context == nullptr || text == nullptr) return;
  AppendTo(*context, text, newline);
}

// The entry goes to the folder of the very context whose switch was looked
// at: a newer context may be published meanwhile, its folder still being
// settled by another thread.
int WriteLog(const char* message, uint32_t flags) {
  if (LogSink* sink = log_sink.load(std::memory_order_acquire)) {
    if (message != nullptr) sink->Write(message, flags);
    return 1;
  }
  AppContext* context = GetAppContext();
  if (context == nullptr || !context->logging_enabled.load()) return 1;
  std::lock_guard<std::recursive_mutex> guard(LogLock());
  if (message != nullptr) AppendTo(*context, message, true);
  return 1;
}

void SetLogSink(LogSink* sink) {
  log_sink.store(sink, std::memory_order_release);
}

void WriteTimestampedLog(const std::string& message) {
  if (GetAppContext() == nullptr) return;
  PackedDateTime now;
  platform::LocalTime local;
  if (RefreshCurrentTime(&now, &local) == 0 && now.date == 0) return;
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "[%4i-%02i-%02i %02i:%02i:%02i] ",
                local.year, local.month_index + 1, local.day, local.hour,
                local.minute, local.second);
  WriteLog(prefix + message, kLogOrdinary);
}

void StartLogFile() {
  AppContext* context = GetAppContext();
  if (context == nullptr) return;
  std::FILE* file =
      platform::OpenOwnFile(LogFilePath(), platform::OwnFileMode::kTruncate);
  if (file == nullptr) return;
  std::fprintf(file, "#Software: %s %s%s\n", context->product_name,
               context->version_text, ".");
  std::fclose(file);
}

}  // namespace corvana
