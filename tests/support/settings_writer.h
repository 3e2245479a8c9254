// Settings files as the analyzer writes them, for the tests, the fuzz
// targets and the benchmarks: the scheduler itself only reads them.
#pragma once

#include <string>

#include "settings/settings_document.h"

namespace corvana {

std::string WriteSettingsOf(const SettingsDocumentBase& document,
                            const void* record, const char* product_name);

// CR LF line ends; keys holding their default are left out.
template <class Record>
std::string WriteSettings(const SettingsDocument<Record>& document,
                          const Record& record, const char* product_name) {
  return WriteSettingsOf(document, &record, product_name);
}

}  // namespace corvana
