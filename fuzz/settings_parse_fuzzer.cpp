// Any bytes through the schedule reader: it must neither crash nor read
// outside the text, and whatever it accepts must survive a write and a
// second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "schedule_document.h"
#include "support/settings_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using corvana::ScheduleDefinition;
  const auto& document = corvana::fuzzing::ScheduleDocument();
  ScheduleDefinition record;
  const char* text = reinterpret_cast<const char*>(data);
  if (!corvana::ParseSettings(document, &record, text, size)) return 0;

  const std::string written =
      corvana::WriteSettings(document, record, "Corvana");
  ScheduleDefinition reread;
  if (!corvana::ParseSettings(document, &reread, written.data(),
                              written.size()) ||
      !corvana::fuzzing::SameFileFields(record, reread)) {
    std::fprintf(stderr, "accepted input does not survive a round trip\n");
    std::abort();
  }
  return 0;
}
