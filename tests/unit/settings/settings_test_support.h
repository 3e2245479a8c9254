// A small record and document that cover every value type, a default other
// than zero and a second section, shared by the settings suites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings_document.h"

namespace corvana::settings_test {

struct TestRecord {
  std::string name;
  std::string profile;
  int32_t enabled = 0;
  int32_t hour = 0;
  int32_t type_period = 0;
  int32_t dt_from = 0;
  int32_t count = 0;

  bool operator==(const TestRecord&) const = default;
};

inline void BuildTestDocument(SettingsDocument<TestRecord>* document) {
  auto& common = AddSection(*document, "Common");
  AddEntry(common, kText, "name", &TestRecord::name);
  AddEntry(common, kText, "profile", &TestRecord::profile);
  AddEntry(common, kInt, "enabled", &TestRecord::enabled, 1);
  AddEntry(common, kInt, "hour", &TestRecord::hour);
  AddEntry(common, kInt, "type_period", &TestRecord::type_period, 11);
  AddEntry(common, kLong, "dt_from", &TestRecord::dt_from);
  auto& other = AddSection(*document, "Other");
  AddEntry(other, kInt, "count", &TestRecord::count);
}

// A record whose every field differs from what a load would default it to,
// so that a test sees which fields a load touched.
inline TestRecord Sentinel() {
  TestRecord record;
  record.name = "old name";
  record.profile = "old profile";
  record.enabled = 77;
  record.hour = 77;
  record.type_period = 77;
  record.dt_from = 77;
  record.count = 77;
  return record;
}

}  // namespace corvana::settings_test
