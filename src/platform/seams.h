// The seams through which the scheduler reads time, runs children and
// reports events to administrators.
// The service uses the system's; tests install their own and drive days of
// ticks in milliseconds.
#pragma once

#include <cstdint>

#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/process.h"

namespace corvana::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowSeconds() = 0;   // wall clock, seconds since 1970
  virtual int64_t MonotonicMs() = 0;  // never jumps with the wall clock
  virtual void SleepMs(int ms) = 0;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  virtual ProcessHandle Start(const ProcessStart& start) = 0;
  virtual bool StartDetached(const ProcessStart& start) = 0;
  // Starts a child that nobody tracks and returns once it has ended, or
  // after `wait_ms`. A launcher that cannot wait just starts it detached.
  virtual bool StartDetachedAndWait(const ProcessStart& start, int wait_ms) {
    (void)wait_ms;
    return StartDetached(start);
  }
  virtual ProcessStatus Query(ProcessHandle process) = 0;
  virtual bool Terminate(ProcessHandle process, uint32_t exit_code) = 0;
  virtual void Release(ProcessHandle process) = 0;
  virtual void CollectEnded() = 0;
};

// The system's log for administrators (ReportSystemEvent). Tests record
// what would have been reported.
class EventReporter {
 public:
  virtual ~EventReporter() = default;
  virtual void Report(EventLevel level, uint32_t event_id,
                      const std::vector<std::string>& strings,
                      const std::string& text) = 0;
};

// Lets a child go that the system's launcher started held: on Windows a
// tracked child starts suspended and is resumed once it is in its job;
// false when it cannot be. Tests put in one that fails. POSIX starts
// nothing held.
using ThreadResumer = bool (*)(std::intptr_t thread);

Clock& CurrentClock();
ProcessLauncher& CurrentLauncher();
EventReporter& CurrentEventReporter();
// nullptr puts the system's back. Set before the worker thread starts.
void SetClock(Clock* clock);
void SetLauncher(ProcessLauncher* launcher);
void SetEventReporter(EventReporter* reporter);
// nullptr: the system's, which CurrentThreadResumer gives as nullptr too.
void SetThreadResumer(ThreadResumer resumer);
ThreadResumer CurrentThreadResumer();

}  // namespace corvana::platform
