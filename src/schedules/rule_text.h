// A definition's timetable in words, as the operator reads it.
#pragma once

#include <string>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"

namespace corvana::schedules {

std::string ScheduleRuleText(const ScheduleDefinition& schedule);
std::string WebServerRuleText(const WebServerDefinition& web_server);

}  // namespace corvana::schedules
