// The facts an administrator must learn without opening the log, reported
// to the system's log (Windows Event Log, syslog) beside the text log,
// which stays as it is. Every user-given string (an id, a file name) is
// escaped first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvana {

enum class RunKind { kSchedule, kWebServerUpdate, kServe };

// The ids, written once in event_messages.mc: the build turns each
// SymbolicName (MSG_ENGINE_STARTED) into a constant (kEventEngineStarted).
#include "event_ids.inc"

// Users cause most warnings and errors (a broken file, a failing run, a
// refused nginx), and must not flood the system's log with them: each
// warning or error reports a fact once (a broken file until its content
// changes, a refused nginx until it is trusted again, any other fact once
// per clock hour), and each id at most this many times per clock hour. The
// rest are counted and reported as one event once that hour is over: 2002
// for definitions, 2004 for the others.
inline constexpr int kEventsPerHour = 20;

void ReportEngineStarted(const std::string& version, const std::string& home,
                         size_t schedules, size_t web_servers);
void ReportEngineStopped();
void ReportAnalyzerNotStarted(RunKind kind, const std::string& id,
                              const std::string& cause);
// `command`: the one refused, "start" or "quit".
void ReportNginxRefused(const std::string& path, const std::string& reason,
                        const std::string& command);
void ReportNginxRestarted(uint32_t exit_code);
void ReportNginxGivenUp(int failures);
// Once nginx passes its checks, a later refusal is a new fact.
void ForgetNginxRefusal();
void ReportEndedAtLimit(RunKind kind, const std::string& id);
// `missed`: the local time of the start, as the log names it.
void ReportMissedStartRun(RunKind kind, const std::string& id,
                          const std::string& missed);
void ReportRunFailed(RunKind kind, const std::string& id, uint32_t exit_code);
void ReportLocalTimeUnreadable();
// `used`: the folder it works in instead, by name (WorkingFolderName).
void ReportHomePathFallback(const std::string& home, const std::string& reason,
                            const std::string& used);
// `cause`: the failed call, or what refused the file.
void ReportLogNotOpened(const std::string& path, const std::string& cause);
// `content`: the file's bytes as they were read, so that a changed file
// reports again.
void ReportDefinitionNotLoaded(const std::string& file_name,
                               std::string_view content);
// How many the bound held back: at every load and supervision pass, of
// each hour that is over (kOverdue); at the stop, every count, the current
// hour's too (kAll).
enum class HeldBackCounts { kOverdue, kAll };
void ReportHeldBackEvents(HeldBackCounts counts = HeldBackCounts::kOverdue);
// Tries again, without waiting, what the system's log did not take, once
// its pause is over: at the next call, then after 1 s, 2 s, ... up to 60 s.
void RetryUndeliveredEvents();
// At the stop no later tick will try again: what waits is tried for up to
// `bound_ms`, and the count of what the system's log still did not take is
// given back, for the one channel left, the service's own log.
int DeliverWaitingEvents(int bound_ms);
// Starts every count afresh, as a new process would; for tests.
void ForgetReportedEvents();

// The events' text with the strings put in, as syslog shows it; empty for
// an id that has none.
std::string EventText(uint32_t event_id, const std::string* strings,
                      size_t count);

}  // namespace corvana
