// Keeping the one nginx running while a web server is enabled. An nginx
// that ends is started again: at once when it had stayed up, otherwise a
// minute after the failure, as the service manager restarts the service
// itself. After three failures within an hour it is left down, said once,
// until the next reload of the definitions.
#pragma once

#include <cstdint>

namespace corvana {

inline constexpr int64_t kNginxRetryPauseMs = 60000;
// An nginx that ran this long counts as one that came up: its end starts
// the count afresh.
inline constexpr int64_t kNginxStaysUpMs = kNginxRetryPauseMs;
inline constexpr int kNginxFailuresPerHour = 3;
inline constexpr int64_t kNginxFailureWindowMs = 3600000;

// Times on the monotonic clock, in milliseconds.
struct NginxKeeping {
  int64_t started_ms = -1;   // the held nginx's start; -1: none runs
  int64_t next_try_ms = -1;  // -1: no start pending
  int failures = 0;          // within the hour from first_failure_ms
  int64_t first_failure_ms = 0;
  bool given_up = false;
};

// What the engine did and saw, each at `now_ms`; the keeping decides.
void NoteNginxStart(NginxKeeping& keeping, bool started, int64_t now_ms);
void NoteNginxEnded(NginxKeeping& keeping, int64_t now_ms);
bool IsNginxStartDue(const NginxKeeping& keeping, int64_t now_ms);

struct SchedulerEngine;
// The supervision pass's look at nginx: an ended one is noticed, and
// started again when due.
void KeepNginxRunning(SchedulerEngine& engine, int64_t now_ms);

}  // namespace corvana
