#include "engine/nginx_keeping.h"

#include <string>

#include "engine/engine.h"
#include "logging/events.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "webserver/webserver_control.h"

namespace corvana {
namespace {

void CountFailure(NginxKeeping& keeping, int64_t now_ms) {
  if (keeping.failures == 0 ||
      now_ms - keeping.first_failure_ms >= kNginxFailureWindowMs) {
    keeping.failures = 0;
    keeping.first_failure_ms = now_ms;
  }
  ++keeping.failures;
  keeping.given_up = keeping.failures >= kNginxFailuresPerHour;
  keeping.next_try_ms = keeping.given_up ? -1 : now_ms + kNginxRetryPauseMs;
}

}  // namespace

void NoteNginxStart(NginxKeeping& keeping, bool started, int64_t now_ms) {
  if (!started) return CountFailure(keeping, now_ms);
  keeping.started_ms = now_ms;
  keeping.next_try_ms = -1;
}

void NoteNginxEnded(NginxKeeping& keeping, int64_t now_ms) {
  const bool stayed_up = now_ms - keeping.started_ms >= kNginxStaysUpMs;
  keeping.started_ms = -1;
  if (!stayed_up) return CountFailure(keeping, now_ms);
  keeping.failures = 0;
  keeping.next_try_ms = now_ms;
}

bool IsNginxStartDue(const NginxKeeping& keeping, int64_t now_ms) {
  return keeping.next_try_ms >= 0 && now_ms >= keeping.next_try_ms;
}

namespace {

const char* WhenAgain(const NginxKeeping& keeping, int64_t now_ms) {
  if (keeping.given_up) return "";
  return IsNginxStartDue(keeping, now_ms) ? log_line::kNginxRestartNow
                                          : log_line::kNginxRestartLater;
}

void NoticeEnd(NginxKeeping& keeping, uint32_t exit_code, int64_t now_ms) {
  NoteNginxEnded(keeping, now_ms);
  WriteTimestampedLog(log_line::kNginxEnded + std::to_string(exit_code) +
                      WhenAgain(keeping, now_ms));
  if (!keeping.given_up) ReportNginxRestarted(exit_code);
}

}  // namespace

void KeepNginxRunning(SchedulerEngine& engine, int64_t now_ms) {
  // Its own quit ends it at a stop, and so may the handler's.
  if (!engine.web_servers_started || stop_requested.load()) return;
  NginxKeeping& keeping = engine.nginx_keeping;
  const bool given_up = keeping.given_up;
  const HeldNginx held = CheckHeldNginx();
  if (held.state == HeldNginxState::kEnded) NoticeEnd(keeping, held.exit_code, now_ms);
  if (IsNginxStartDue(keeping, now_ms)) {
    WriteTimestampedLog(log_line::kStartWebServers);
    NoteNginxStart(keeping, WebServerCommand(NginxCommand::kStart), now_ms);
  }
  if (keeping.given_up && !given_up) {
    WriteTimestampedLog(log_line::kNginxGivenUp);
    ReportNginxGivenUp(keeping.failures);
  }
}

}  // namespace corvana
