#include "logging/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "environment/app_context.h"
#include "logging/escape.h"
#include "platform/clock.h"
#include "logging/events.h"
#include "logging/log_stamp.h"
#include "platform/fs.h"
#include "platform/seams.h"

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

// The log of the current run, held open from StartLogFile on: no other
// user's lock or oplock on the name can stall an entry, and the name cannot
// be turned into a link between entries. Flushed per entry, so the file is
// complete on disk after every line. Only under LogLock().
struct OpenLog {
  const AppContext* context = nullptr;
  std::FILE* file = nullptr;
};

OpenLog& CurrentLog() {
  static OpenLog* log = new OpenLog;
  return *log;
}

// Text mode on Windows: every "\n" reaches the file as CR LF.
void AppendTo(const AppContext& context, const char* text, bool newline) {
  OpenLog& log = CurrentLog();
  if (log.context != &context) return;  // an older run's entry
  // A log that could not be opened at the start is tried again, by its name
  // in the held folder, never through a link.
  if (log.file == nullptr) {
    log.file = platform::OpenOwnFile(context.home_folder, kLogFileName,
                                     platform::OwnFileMode::kAppend);
    if (log.file == nullptr) return;
  }
  // Into the stream's buffer and out in one write by the flush: a reload
  // writes two entries per file, and a format string only costs its parse.
  // Users' bytes in ids and paths are escaped here, once, for every entry.
  const std::string escaped =
      NeedsEscaping(text) ? EscapeControlCharacters(text) : std::string();
  std::fputs(escaped.empty() ? text : escaped.c_str(), log.file);
  if (newline) std::fputc('\n', log.file);
  std::fflush(log.file);
}

}  // namespace

// Takes the lock, which WriteLog's own entries hold: the open log must not
// be replaced under the crash handler's lines.
void AppendLogLine(const char* text, bool newline) {
  AppContext* context = GetAppContext();
  if (context == nullptr || text == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(LogLock());
  AppendTo(*context, text, newline);
}

// The entry goes to the folder of the very context whose switch was looked
// at: a newer context may be published meanwhile, its folder still being
// settled by another thread.
int WriteLog(const char* message) {
  if (LogSink* sink = log_sink.load(std::memory_order_acquire)) {
    if (message != nullptr) sink->Write(message);
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
  platform::LocalTime local;
  if (!platform::ToLocalTime(platform::CurrentClock().NowSeconds(), &local)) {
    return;
  }
  WriteLog(LogStamp(local) + message);
}

void StartLogFile() {
  AppContext* context = GetAppContext();
  if (context == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(LogLock());
  OpenLog& log = CurrentLog();
  if (log.file != nullptr) std::fclose(log.file);
  log.context = context;
  platform::FailedCall failure;
  log.file = platform::OpenOwnFile(context->home_folder, kLogFileName,
                                   platform::OwnFileMode::kTruncate, &failure);
  if (log.file == nullptr) {
    ReportLogNotOpened(LogFilePath(), platform::FailedCallText(failure));
    return;
  }
  std::fprintf(log.file, "#Software: %s %s%s\n", context->product_name,
               context->version_text, ".");
  std::fflush(log.file);
}

}  // namespace corvana
