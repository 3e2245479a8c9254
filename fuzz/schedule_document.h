// The document that ".schedule" files are read with: one section "Common"
// with every key of a schedule, in the order and with the defaults the
// definitions code declares.
#pragma once

#include "definitions/schedule_definition.h"
#include "settings/settings_document.h"

namespace corvana::fuzzing {

inline const SettingsDocument<ScheduleDefinition>& ScheduleDocument() {
  using Schedule = ScheduleDefinition;
  static const SettingsDocument<Schedule>* document = [] {
    auto* built = new SettingsDocument<Schedule>("Schedule Settings", 1.0);
    auto& common = AddSection(*built, "Common");
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
    return built;
  }();
  return *document;
}

// The fields a file can set, for comparing two records.
inline bool SameFileFields(const ScheduleDefinition& a,
                           const ScheduleDefinition& b) {
  return a.name == b.name && a.profile == b.profile &&
         a.type_action == b.type_action && a.enabled == b.enabled &&
         a.type_schedule == b.type_schedule && a.type_period == b.type_period &&
         a.confirm_period == b.confirm_period && a.comparison == b.comparison &&
         a.compar_tp == b.compar_tp && a.compar_fld == b.compar_fld &&
         a.day == b.day && a.month == b.month && a.year == b.year &&
         a.hour == b.hour && a.min == b.min && a.sec == b.sec &&
         a.nday_week == b.nday_week && a.days_week == b.days_week &&
         a.dt_from == b.dt_from && a.dt_to == b.dt_to &&
         a.compr_from == b.compr_from && a.compr_to == b.compr_to;
}

}  // namespace corvana::fuzzing
