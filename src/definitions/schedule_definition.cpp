#include "definitions/schedule_definition.h"

#include "logging/log.h"
#include "settings/settings_document.h"

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
  AddEntry(common, kInt, "type_schedule", &Schedule::type_schedule);
  AddEntry(common, kInt, "day", &Schedule::day);
  AddEntry(common, kInt, "month", &Schedule::month);
  AddEntry(common, kInt, "year", &Schedule::year);
  AddEntry(common, kInt, "hour", &Schedule::hour);
  AddEntry(common, kInt, "min", &Schedule::min);
  AddEntry(common, kInt, "sec", &Schedule::sec);
  AddEntry(common, kInt, "nday_week", &Schedule::nday_week);
  AddEntry(common, kInt, "days_week", &Schedule::days_week);
  AddEntry(common, kInt, "type_period", &Schedule::type_period, 11);
  AddEntry(common, kInt, "confirm_period", &Schedule::confirm_period);
  AddEntry(common, kInt, "comparison", &Schedule::comparison);
  AddEntry(common, kInt, "compar_tp", &Schedule::compar_tp);
  AddEntry(common, kInt, "compar_fld", &Schedule::compar_fld);
  AddEntry(common, kLong, "dt_from", &Schedule::dt_from);
  AddEntry(common, kLong, "dt_to", &Schedule::dt_to);
  AddEntry(common, kLong, "compr_from", &Schedule::compr_from);
  AddEntry(common, kLong, "compr_to", &Schedule::compr_to);
  return document;
}

}  // namespace

const SettingsDocument<Schedule>& ScheduleDocument() {
  static const SettingsDocument<Schedule> document = BuildScheduleDocument();
  return document;
}

bool ReadScheduleFile(const std::string& folder, const std::string& file_name,
                      ScheduleDefinition* record) {
  // A fresh record, so that a file without the section gives the initial
  // values (disabled) and a failed load leaves the caller's record as it was.
  ScheduleDefinition loaded;
  if (!LoadSettings(ScheduleDocument(), &loaded, folder + file_name, 0)) {
    WriteLog("Error read schedule settings", kLogError);
    return false;
  }
  loaded.id = file_name.substr(0, file_name.find('.'));
  *record = std::move(loaded);
  return true;
}

}  // namespace corvana
