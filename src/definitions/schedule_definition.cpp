#include "definitions/schedule_definition.h"

#include "definitions/definition_file.h"
#include "logging/log_lines.h"

namespace corvana {
namespace {

using Schedule = ScheduleDefinition;

SettingsDocument<Schedule> BuildScheduleDocument() {
  SettingsDocument<Schedule> document("Schedule Settings", 1.0);
  SettingsSection<Schedule>& common = AddSection(document, "Common");
  AddNotKeptEntry(common, kText, "name");
  AddNotKeptEntry(common, kText, "profile");
  AddNotKeptEntry(common, kInt, "type_action");
  AddEntry(common, kInt, "enabled", &Schedule::enabled, 1);
  AddTimetableEntries(common);
  AddNotKeptEntry(common, kInt, "type_period");
  AddNotKeptEntry(common, kInt, "confirm_period");
  AddNotKeptEntry(common, kInt, "comparison");
  AddNotKeptEntry(common, kInt, "compar_tp");
  AddNotKeptEntry(common, kInt, "compar_fld");
  AddNotKeptEntry(common, kLong, "dt_from");
  AddNotKeptEntry(common, kLong, "dt_to");
  AddNotKeptEntry(common, kLong, "compr_from");
  AddNotKeptEntry(common, kLong, "compr_to");
  AddEntry(common, kInt, "run_missed", &Schedule::run_missed);
  return document;
}

}  // namespace

const SettingsDocument<Schedule>& ScheduleDocument() {
  static const SettingsDocument<Schedule> document = BuildScheduleDocument();
  return document;
}

bool ReadScheduleFile(const platform::HeldFolder& folder, const char* file_name,
                      ScheduleDefinition* record, SettingsFailure* failure) {
  return ReadDefinitionFile(ScheduleDocument(), folder, file_name,
                            log_line::kScheduleUnreadable, record, failure);
}

}  // namespace corvana
