// One ".schedule" file: when to start the analyzer for one stored task.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "definitions/timetable.h"
#include "platform/fs.h"

namespace corvana {

// Fields keep the names of their file keys.
// The keys the scheduler does not use (name, profile and the analyzer's
// report settings) are checked, not kept: they are the analyzer's, which
// reads the file itself.
struct ScheduleDefinition : Timetable, RunState {
  std::string id;  // the file name up to its first "."
  std::string file_name;  // as listed, for the run journal
  int32_t enabled = 0;
  // 1: a start missed while the service was down is caught up at its start.
  int32_t run_missed = 0;
};

template <class Record>
class SettingsDocument;
struct SettingsFailure;

// The description every ".schedule" file is read against, built once.
const SettingsDocument<ScheduleDefinition>& ScheduleDocument();

// Reads the file file_name in the held folder.
// False, after "Error read schedule settings", when the file cannot be used;
// then `failure`, when given, says why.
bool ReadScheduleFile(const platform::HeldFolder& folder, const char* file_name,
                      ScheduleDefinition* record,
                      SettingsFailure* failure = nullptr);

}  // namespace corvana
