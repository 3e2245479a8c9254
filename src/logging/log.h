// The one log file, "scheduler.###" in HomePath, and its writer.
#pragma once

#include <string>

namespace corvana {

inline constexpr const char kLogFileName[] = "scheduler.###";

// Where entries go instead of the file while one is set, context or not: a
// tool that reads definitions takes the reader's own messages from here and
// writes no log.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void Write(const char* message) = 0;
};
// nullptr puts the file back. Set it before other threads log.
void SetLogSink(LogSink* sink);

// Appends the message as one line. Dropped before the context exists or
// before logging is switched on. Always returns 1.
int WriteLog(const char* message);
inline int WriteLog(const std::string& message) {
  return WriteLog(message.c_str());
}
// The message behind "[yyyy-mm-dd hh:mm:ss] " of a fresh clock reading.
void WriteTimestampedLog(const std::string& message);
// Truncates the log and writes its header line.
void StartLogFile();
// The crash handler's ways in: as WriteLog, and straight to the file
// without the switch. Neither waits for another thread's entry, which may
// never end in a crashing process: the log lock is taken only when it is
// free (or this thread's), else the line goes to the held log at once,
// perhaps amid that entry.
int WriteLogWithoutWaiting(const char* message);
void AppendLogLine(const char* text, bool newline);
std::string LogFilePath();

}  // namespace corvana
