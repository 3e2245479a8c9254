// One ".webserver" file: a published report site and when to regenerate it.
#pragma once

#include <cstdint>
#include <string>

#include "environment/packed_time.h"
#include "definitions/timetable.h"
#include "platform/process.h"

namespace corvana {

struct WebServerDefinition {
  std::string id;  // the file name up to its first "."
  std::string name;
  std::string profile;
  std::string folder;
  int32_t enabled = 1;
  int32_t type_schedule = 0;
  int32_t dinamic = 0;
  int32_t port = 8080;
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = 0;
  int32_t hour = 0;
  int32_t min = 0;
  int32_t sec = 0;
  int32_t nday_week = 0;
  int32_t days_week = 0;
  int32_t type_interval = 0;
  int32_t interval = 30;

  bool fired = false;
  uint32_t fired_date = 0;            // see ScheduleDefinition
  int32_t fired_minute_of_day = -1;
  PackedDateTime last_update;         // date 0: never updated
  // The same moment in seconds since 1970, 0 when not known: a local time
  // in the hour repeated in autumn names two moments, an interval is
  // measured from this one.
  int64_t last_update_s = 0;
  int64_t started_at = 0;
  int64_t started_monotonic_ms = 0;
  platform::ProcessHandle process = 0;
};

// Reads the file at path into a record that holds the values a loader sets
// before reading (the defaults above). False, after "Error read webserver
// settings", when the file cannot be used.
bool ReadWebServerFile(const std::string& path, WebServerDefinition* record);

}  // namespace corvana
