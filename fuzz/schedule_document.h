// The keys of ".schedule" files, every one kept, and a comparison of what a
// file can set. The scheduler lets most of them go (they are the
// analyzer's); the reader's fuzzers and benchmarks keep them all, so that
// every value is stored and compared.
#pragma once

#include <cstdint>
#include <string>

#include "definitions/definition_file.h"
#include "definitions/timetable.h"
#include "settings/settings_document.h"

namespace corvana::fuzzing {

struct ScheduleFile : Timetable {
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
  int32_t run_missed = 0;
};

// The scheduler's document, in its order, with every key bound.
inline const SettingsDocument<ScheduleFile>& ScheduleDocument() {
  static const SettingsDocument<ScheduleFile>* document = [] {
    using S = ScheduleFile;
    auto* built = new SettingsDocument<S>("Schedule Settings", 1.0);
    SettingsSection<S>& common = AddSection(*built, "Common");
    AddEntry(common, kText, "name", &S::name);
    AddEntry(common, kText, "profile", &S::profile);
    AddEntry(common, kInt, "type_action", &S::type_action);
    AddEntry(common, kInt, "enabled", &S::enabled, 1);
    AddTimetableEntries(common);
    AddEntry(common, kInt, "type_period", &S::type_period, 11);
    AddEntry(common, kInt, "confirm_period", &S::confirm_period);
    AddEntry(common, kInt, "comparison", &S::comparison);
    AddEntry(common, kInt, "compar_tp", &S::compar_tp);
    AddEntry(common, kInt, "compar_fld", &S::compar_fld);
    AddEntry(common, kLong, "dt_from", &S::dt_from);
    AddEntry(common, kLong, "dt_to", &S::dt_to);
    AddEntry(common, kLong, "compr_from", &S::compr_from);
    AddEntry(common, kLong, "compr_to", &S::compr_to);
    AddEntry(common, kInt, "run_missed", &S::run_missed);
    return built;
  }();
  return *document;
}

// The fields a file can set, for comparing two records.
inline bool SameFileFields(const ScheduleFile& a, const ScheduleFile& b) {
  return a.name == b.name && a.profile == b.profile &&
         a.type_action == b.type_action && a.enabled == b.enabled &&
         a.type_schedule == b.type_schedule && a.type_period == b.type_period &&
         a.confirm_period == b.confirm_period && a.comparison == b.comparison &&
         a.compar_tp == b.compar_tp && a.compar_fld == b.compar_fld &&
         a.day == b.day && a.month == b.month && a.year == b.year &&
         a.hour == b.hour && a.min == b.min && a.sec == b.sec &&
         a.nday_week == b.nday_week && a.days_week == b.days_week &&
         a.dt_from == b.dt_from && a.dt_to == b.dt_to &&
         a.compr_from == b.compr_from && a.compr_to == b.compr_to &&
         a.run_missed == b.run_missed;
}

}  // namespace corvana::fuzzing
