// One ".schedule" file: when to start the analyzer for one stored task.
#pragma once

#include <cstdint>
#include <string>

#include "definitions/timetable.h"
#include "platform/process.h"

namespace corvana {

// Fields keep the names of their file keys. The run-time members at the end
// never come from the file; only the engine changes them, and copying a
// record copies them (a copy refers to the same running child).
struct ScheduleDefinition {
  std::string id;  // the file name up to its first "."
  std::string name;
  std::string profile;
  int32_t type_action = 0;
  int32_t enabled = 0;
  int32_t type_schedule = 0;
  int32_t type_period = 0;
  int32_t confirm_period = 0;
  int32_t comparison = 0;
  int32_t compar_tp = 0;
  int32_t compar_fld = 0;
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = 0;
  int32_t hour = 0;
  int32_t min = 0;
  int32_t sec = 0;
  int32_t nday_week = 0;
  int32_t days_week = 0;
  int32_t dt_from = 0;
  int32_t dt_to = 0;
  int32_t compr_from = 0;
  int32_t compr_to = 0;

  bool fired = false;
  // Local date (packed) and hour * 60 + minute of the last start, so that
  // the hour repeated when the clocks go back does not start it twice.
  uint32_t fired_date = 0;
  int32_t fired_minute_of_day = -1;
  int64_t started_at = 0;             // wall clock, seconds since 1970
  int64_t started_monotonic_ms = 0;   // what the run-time limit measures
  platform::ProcessHandle process = 0;
};

template <class Record>
class SettingsDocument;

// The description every ".schedule" file is read against, built once.
const SettingsDocument<ScheduleDefinition>& ScheduleDocument();

// Reads folder + file_name (folder ends with the separator or is empty).
// False, after "Error read schedule settings", when the file cannot be used.
bool ReadScheduleFile(const std::string& folder, const std::string& file_name,
                      ScheduleDefinition* record);

}  // namespace corvana
