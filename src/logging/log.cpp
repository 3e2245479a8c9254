#include "logging/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>

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
// user's lock or oplock on the name can stall an entry, and a link put at
// the name is never written through. Flushed per entry, so the file is
// complete on disk after every line. Changed only under LogLock(); atomic
// because the crash handler writes through it without that lock when
// another thread holds it.
struct OpenLog {
  std::atomic<const AppContext*> context{nullptr};
  std::atomic<std::FILE*> file{nullptr};
  std::optional<platform::OwnFileId> id;  // of `file`, taken at its open
  bool loss_reported = false;  // the one event of a log that went missing
};

OpenLog& CurrentLog() {
  static OpenLog* log = new OpenLog;
  return *log;
}

void ReportLost(OpenLog& log, const AppContext& context,
                const platform::FailedCall& failure) {
  if (log.loss_reported) return;
  log.loss_reported = true;
  ReportLogNotOpened(context.HomePath + kLogFileName,
                     platform::FailedCallText(failure));
}

// An administrator may delete or rename the log while the service runs: the
// next entry notices (one fstatat per entry on POSIX, no disk write) and opens a new log by its name in the held folder, with the checks
// of the first, never through a link. A log that cannot be opened, at the
// start or as a replacement, is tried again at the next entry. The new log
// has no header: the run's first line is in the one that went.
std::FILE* HeldLog(OpenLog& log, const AppContext& context) {
  std::FILE* file = log.file.load();
  if (file != nullptr &&
      platform::OwnFileStillNamed(context.home_folder, kLogFileName, file, log.id)) {
    return file;
  }
  if (file != nullptr) {
    log.file.store(nullptr);
    std::fclose(file);  // first: Windows frees a deleted file's name only now
  }
  platform::FailedCall failure;
  file = platform::OpenOwnFile(context.home_folder, kLogFileName,
                               platform::OwnFileMode::kAppend, &failure);
  log.id = platform::IdOfOwnFile(file);
  log.file.store(file);
  if (file == nullptr) {
    ReportLost(log, context, failure);
  } else {
    log.loss_reported = false;
  }
  return file;
}

// Text mode on Windows: every "\n" reaches the file as CR LF. Into the
// stream's buffer and out in one write by the flush: a reload writes two
// entries per file, and a format string only costs its parse. Users' bytes
// in ids and paths are escaped here, once, for every entry.
void WriteEntry(std::FILE* file, const char* text, bool newline) {
  const std::string escaped =
      NeedsEscaping(text) ? EscapeControlCharacters(text) : std::string();
  std::fputs(escaped.empty() ? text : escaped.c_str(), file);
  if (newline) std::fputc('\n', file);
  std::fflush(file);
}

enum class LockWait { kWait, kOnlyWhenFree };

void AppendTo(const AppContext& context, const char* text, bool newline,
              LockWait wait) {
  OpenLog& log = CurrentLog();
  std::unique_lock<std::recursive_mutex> lock(LogLock(), std::defer_lock);
  if (wait == LockWait::kWait) {
    lock.lock();
  } else if (!lock.try_lock()) {
    // Another thread is in an entry that may never end: this line goes to
    // the held log as it is, unchecked, perhaps amid that entry.
    std::FILE* file = log.file.load();
    if (log.context.load() == &context && file != nullptr) {
      WriteEntry(file, text, newline);
    }
    return;
  }
  if (log.context.load() != &context) return;  // an older run's entry
  if (std::FILE* file = HeldLog(log, context)) WriteEntry(file, text, newline);
}

// WriteLog's and the crash handler's way in: the entry goes to the folder of
// the very context whose switch was looked at, as a newer context may be
// published meanwhile, its folder still being settled by another thread.
int WriteThrough(const char* message, LockWait wait) {
  if (LogSink* sink = log_sink.load(std::memory_order_acquire)) {
    if (message != nullptr) sink->Write(message);
    return 1;
  }
  AppContext* context = GetAppContext();
  if (context == nullptr || !context->logging_enabled.load()) return 1;
  if (message != nullptr) AppendTo(*context, message, true, wait);
  return 1;
}

}  // namespace

void AppendLogLine(const char* text, bool newline) {
  AppContext* context = GetAppContext();
  if (context == nullptr || text == nullptr) return;
  AppendTo(*context, text, newline, LockWait::kOnlyWhenFree);
}

int WriteLog(const char* message) {
  return WriteThrough(message, LockWait::kWait);
}

int WriteLogWithoutWaiting(const char* message) {
  return WriteThrough(message, LockWait::kOnlyWhenFree);
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
  if (std::FILE* older = log.file.exchange(nullptr)) std::fclose(older);
  log.context.store(context);
  log.loss_reported = false;
  platform::FailedCall failure;
  std::FILE* file = platform::OpenOwnFile(context->home_folder, kLogFileName,
                                          platform::OwnFileMode::kTruncate, &failure);
  log.id = platform::IdOfOwnFile(file);
  log.file.store(file);
  if (file == nullptr) {
    ReportLost(log, *context, failure);
    return;
  }
  std::fprintf(file, "#Software: %s %s%s\n", context->product_name,
               context->version_text, ".");
  std::fflush(file);
}

}  // namespace corvana
