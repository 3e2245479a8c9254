// What a reload keeps of the records it replaces: their children and what
// they remember of their last start.
#pragma once

#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"

namespace corvana {

// What the reloads keep: each old record's running child, with `started_at`,
// lands in a fresh record of the same id: the one at the same place among
// the records of that id, else the first of them without a child. Every old
// record's latch and last start (date and minute) go to that same place, or
// the first of the id, except to an interval web server, whose interval
// starts afresh. A child that no fresh record takes goes
// to `vanished` while it runs; other handles nobody keeps are released (all
// of them when `vanished` is null).
void CarryOverRunTime(std::vector<ScheduleDefinition>& snapshot,
                      std::vector<ScheduleDefinition>& fresh,
                      std::vector<ScheduleDefinition>* vanished = nullptr);
void CarryOverRunTime(std::vector<WebServerDefinition>& snapshot,
                      std::vector<WebServerDefinition>& fresh,
                      std::vector<WebServerDefinition>* vanished = nullptr);

}  // namespace corvana
