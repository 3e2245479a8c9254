// The document that ".schedule" files are read with, and a comparison of
// what a file can set.
#pragma once

#include "definitions/schedule_definition.h"
#include "settings/settings_document.h"

namespace corvana::fuzzing {

using corvana::ScheduleDocument;

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
