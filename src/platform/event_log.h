// The system's log for administrators: the Windows Event Log (Application
// log, source RavoScheduler), or syslog elsewhere. Reports are one attempt
// each and never wait: the engine goes on whatever becomes of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace corvana::platform {

inline constexpr char kEventSourceName[] = "RavoScheduler";

enum class EventLevel { kError, kWarning, kInformation };

// `log_address` names the log that takes the report: on POSIX a syslog
// socket, on Windows the server whose Event Log it is; empty names this
// machine's own (/dev/log, the local Event Log). `strings` fill the message
// table's text of `event_id` (Windows); `text` is that text already filled
// in (syslog). The call that failed when the system did not take it.
FailedCall ReportSystemEvent(const std::string& log_address, EventLevel level,
                       uint32_t event_id,
                       const std::vector<std::string>& strings,
                       const std::string& text);

// Whether the log that refused a report may take it soon: its reader fell
// behind, rather than there being no reader at all. Only then is a wait
// worth it.
bool RefusalMayPass(const FailedCall& failure);

enum class EventSourceState {
  kRegistered,
  kNotRegistered,
  kNoRegistration,  // syslog: every program may write, nothing to register
  kNoReceiver,      // syslog, but no socket takes the reports
};

// How a registration or its removal went; the failed call and its own code
// when it did not.
struct EventSourceResult {
  bool succeeded = true;
  const char* failed_call = "";
  uint32_t native_error = 0;
};

// Registers the source with `message_file` holding its texts; a source
// registered already is left as it is.
EventSourceResult RegisterEventLogSource(const std::string& message_file);
// Succeeds when no registration is left, also when there was none.
EventSourceResult RemoveEventLogSource();
EventSourceState QueryEventLogSource();

}  // namespace corvana::platform
