// What the two definition readers share: the calendar keys, and reading a
// file into a fresh record.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "definitions/timetable.h"
#include "logging/log.h"
#include "platform/fs.h"
#include "settings/settings_document.h"

namespace corvana {

// In the order both files declare them.
template <class Definition>
void AddTimetableEntries(SettingsSection<Definition>& section) {
  AddEntry(section, kInt, "type_schedule", &Definition::type_schedule);
  AddEntry(section, kInt, "day", &Definition::day);
  AddEntry(section, kInt, "month", &Definition::month);
  AddEntry(section, kInt, "year", &Definition::year);
  AddEntry(section, kInt, "hour", &Definition::hour);
  AddEntry(section, kInt, "min", &Definition::min);
  AddEntry(section, kInt, "sec", &Definition::sec);
  AddEntry(section, kInt, "nday_week", &Definition::nday_week);
  AddEntry(section, kInt, "days_week", &Definition::days_week);
}

// A fresh record, so that a file without the section gives the record's
// initial values and a failed load leaves the caller's record as it was.
// The id is the file name up to its first ".".
template <class Definition>
bool ReadDefinitionFile(const SettingsDocument<Definition>& document,
                        const platform::HeldFolder& folder,
                        const char* file_name, const char* error_line,
                        Definition* record, SettingsFailure* failure) {
  Definition loaded;
  if (!LoadSettings(document, &loaded, folder, file_name, 0, failure)) {
    WriteLog(error_line);
    return false;
  }
  const std::string_view name(file_name);
  loaded.id = name.substr(0, name.find('.'));
  loaded.file_name = name;
  *record = std::move(loaded);
  return true;
}

}  // namespace corvana
