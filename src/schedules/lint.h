// Definitions that load but that the service will not run as written: a
// timetable its due rules can never match, and ids that two files share.
#pragma once

#include <string>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "schedules/report_model.h"

namespace corvana::schedules {

// Why a definition that the search for its starts (the engine's own due
// rules) finds none for never runs: the value no date or time of day can
// match as the due rules compare it, else for a once rule that its moment
// lies before `from_s` or is skipped by the clocks.
std::string NeverRunsReason(const ScheduleDefinition& schedule, int64_t from_s);
std::string NeverRunsReason(const WebServerDefinition& web_server, int64_t from_s);

// A line for every row whose id an earlier row of the same kind has too;
// the rows are sorted by id.
void AddSharedIdWarnings(const std::vector<DefinitionRow>& rows,
                         std::vector<Warning>* warnings);

}  // namespace corvana::schedules
