// One ".webserver" file: a published report site and when to regenerate it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "definitions/timetable.h"
#include "platform/fs.h"

namespace corvana {

struct SettingsFailure;

// Fields keep the names of their file keys. The keys the scheduler does not
// use (name, profile, folder, dinamic, port) are checked, not kept.
struct WebServerDefinition : Timetable, RunState {
  std::string id;  // the file name up to its first "."
  std::string file_name;  // as listed, for the run journal
  int32_t enabled = 1;
  int32_t type_interval = 0;
  int32_t interval = 30;
  // 1: a calendar start missed while the service was down is caught up at
  // its start. An interval site is due at every start anyway.
  int32_t run_missed = 0;
};

// How many units an interval web server waits: the file's `interval`, where
// 0 means one.
inline int32_t IntervalUnits(const WebServerDefinition& web_server) {
  return web_server.interval == 0 ? 1 : web_server.interval;
}

// Reads the file file_name in the held folder into a fresh record. False, after "Error read webserver settings", when
// the file cannot be used; the caller's record is then left as it was, and
// `failure`, when given, says why.
bool ReadWebServerFile(const platform::HeldFolder& folder, const char* file_name,
                       WebServerDefinition* record,
                       SettingsFailure* failure = nullptr);

}  // namespace corvana
