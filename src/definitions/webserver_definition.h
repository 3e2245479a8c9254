// One ".webserver" file: a published report site and when to regenerate it.
#pragma once

#include <cstdint>
#include <string>

#include "calendar/packed_time.h"
#include "definitions/timetable.h"

namespace corvana {

// Fields keep the names of their file keys.
struct WebServerDefinition : Timetable, RunState {
  std::string id;  // the file name up to its first "."
  std::string name;
  std::string profile;
  std::string folder;
  int32_t enabled = 1;
  int32_t dinamic = 0;
  int32_t port = 8080;
  int32_t type_interval = 0;
  int32_t interval = 30;

  PackedDateTime last_update;  // date 0: never updated
  // The same moment in seconds since 1970, 0 when not known: a local time
  // in the hour repeated in autumn names two moments, an interval is
  // measured from this one.
  int64_t last_update_s = 0;
};

// Reads folder + file_name (folder ends with the separator or is empty)
// into a fresh record. False, after "Error read webserver settings", when
// the file cannot be used; the caller's record is then left as it was.
bool ReadWebServerFile(const std::string& folder, const std::string& file_name,
                       WebServerDefinition* record);

}  // namespace corvana
