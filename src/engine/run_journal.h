// What the engine tells the run journal (logging/journal.h), and what it
// reads back from it at its start to catch up the starts it missed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "definitions/timetable.h"
#include "engine/engine.h"
#include "logging/journal.h"

namespace corvana {

// The children still running are recorded as such, then the stop.
void JournalServiceStopped(const SchedulerEngine& engine);
void JournalRunStarted(RunKind kind, const std::string& id,
                       const std::string& file_name, const RunState& run,
                       int64_t missed_s);
// `run` as it was while the child ran: its start measures the duration.
void JournalRunEnded(RunKind kind, const std::string& id, const RunState& run,
                     RunEnding ending, std::optional<uint32_t> exit_code);
// `cause`: the call that failed, in words.
void JournalRunNotStarted(RunKind kind, const std::string& id,
                          const std::string& cause);

// Whether a missed start of the definition runs at the service's next
// start: asked for with run_missed=1, and for a web server only of a
// calendar one (an interval one is due at every load anyway).
bool AsksForCatchUp(const ScheduleDefinition& record);
bool AsksForCatchUp(const WebServerDefinition& record);

// Records the service's start, and then runs at once each definition with
// run_missed=1 whose latest start in the last day fell after the journal's
// last record before this start (the service was down then) and that has
// no run of its id recorded since; one run per id. Reads the journal first,
// and only when a definition asks for this.
void BeginJournal(SchedulerEngine& engine);

}  // namespace corvana
