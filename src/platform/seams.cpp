#include "platform/seams.h"

#include <atomic>

#include "platform/clock.h"

namespace corvana::platform {
namespace {

class SystemClockImpl final : public Clock {
 public:
  int64_t NowSeconds() override { return SystemNowSeconds(); }
  int64_t MonotonicMs() override { return SystemMonotonicMs(); }
  void SleepMs(int ms) override { SystemSleepMs(ms); }
};

constexpr int kWaitSliceMs = 5;

class SystemLauncherImpl final : public ProcessLauncher {
 public:
  ProcessHandle Start(const ProcessStart& start) override {
    return StartProcess(start);
  }
  bool StartDetached(const ProcessStart& start) override {
    return StartDetachedProcess(start);
  }
  // The wait is measured, not counted in slices: a 5 ms sleep takes a whole
  // timer tick on Windows, about 15.6 ms.
  bool StartDetachedAndWait(const ProcessStart& start, int wait_ms) override {
    const ProcessHandle child = StartProcess(start);
    if (child == 0) return false;
    Clock& clock = CurrentClock();
    const int64_t until_ms = clock.MonotonicMs() + wait_ms;
    while (clock.MonotonicMs() < until_ms) {
      if (QueryProcess(child).state != ProcessState::kRunning) break;
      clock.SleepMs(kWaitSliceMs);
    }
    ReleaseProcess(child);  // one still running is reaped later
    return true;
  }
  ProcessStatus Query(ProcessHandle process) override {
    return QueryProcess(process);
  }
  bool Terminate(ProcessHandle process, uint32_t exit_code) override {
    return TerminateChild(process, exit_code);
  }
  void Release(ProcessHandle process) override { ReleaseProcess(process); }
  void CollectEnded() override { CollectEndedChildren(); }
};

// One attempt; whatever the system does with it, the engine goes on.
class SystemEventReporterImpl final : public EventReporter {
 public:
  void Report(EventLevel level, uint32_t event_id,
              const std::vector<std::string>& strings,
              const std::string& text) override {
    ReportSystemEvent(level, event_id, strings, text);
  }
};

SystemClockImpl system_clock;
SystemLauncherImpl system_launcher;
SystemEventReporterImpl system_event_reporter;
std::atomic<Clock*> current_clock{&system_clock};
std::atomic<ProcessLauncher*> current_launcher{&system_launcher};
std::atomic<EventReporter*> current_event_reporter{&system_event_reporter};
std::atomic<ThreadResumer> current_resumer{nullptr};

}  // namespace

Clock& CurrentClock() { return *current_clock.load(); }
ProcessLauncher& CurrentLauncher() { return *current_launcher.load(); }
EventReporter& CurrentEventReporter() { return *current_event_reporter.load(); }

void SetClock(Clock* clock) {
  current_clock.store(clock ? clock : &system_clock);
}

void SetLauncher(ProcessLauncher* launcher) {
  current_launcher.store(launcher ? launcher : &system_launcher);
}

void SetEventReporter(EventReporter* reporter) {
  current_event_reporter.store(reporter ? reporter : &system_event_reporter);
}

void SetThreadResumer(ThreadResumer resumer) { current_resumer.store(resumer); }
ThreadResumer CurrentThreadResumer() { return current_resumer.load(); }

}  // namespace corvana::platform
