// One ".schedule" file: when to start the analyzer for one stored task.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "definitions/timetable.h"
#include "platform/fs.h"

namespace corvana {

// Fields keep the names of their file keys.
struct ScheduleDefinition : Timetable, RunState {
  std::string id;  // the file name up to its first "."
  std::string file_name;  // as listed, for the run journal
  std::string name;
  std::string profile;
  int32_t type_action = 0;
  int32_t enabled = 0;
  int32_t type_period = 0;
  int32_t confirm_period = 0;
  int32_t comparison = 0;
  int32_t compar_tp = 0;
  int32_t compar_fld = 0;
  int32_t dt_from = 0;
  int32_t dt_to = 0;
  int32_t compr_from = 0;
  int32_t compr_to = 0;
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
