#include "definitions/schedule_definition.h"

#include "definitions/definition_file.h"
#include "logging/log_lines.h"

namespace corvana {
namespace {

using Schedule = ScheduleDefinition;

SettingsDocument<Schedule> BuildScheduleDocument() {
  SettingsDocument<Schedule> document("Schedule Settings", 1.0);
  SettingsSection<Schedule>& common = AddSection(document, "Common");
  AddEntry(common, kText, "name", &Schedule::name);
  AddEntry(common, kText, "profile", &Schedule::profile);
  AddEntry(common, kInt, "type_action", &Schedule::type_action);
  AddEntry(common, kInt, "enabled", &Schedule::enabled, 1);
  AddTimetableEntries(common);
  AddEntry(common, kInt, "type_period", &Schedule::type_period, 11);
  AddEntry(common, kInt, "confirm_period", &Schedule::confirm_period);
  AddEntry(common, kInt, "comparison", &Schedule::comparison);
  AddEntry(common, kInt, "compar_tp", &Schedule::compar_tp);
  AddEntry(common, kInt, "compar_fld", &Schedule::compar_fld);
  AddEntry(common, kLong, "dt_from", &Schedule::dt_from);
  AddEntry(common, kLong, "dt_to", &Schedule::dt_to);
  AddEntry(common, kLong, "compr_from", &Schedule::compr_from);
  AddEntry(common, kLong, "compr_to", &Schedule::compr_to);
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
