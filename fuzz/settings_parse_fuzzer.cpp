// Any bytes through the schedule reader: it must neither crash nor read
// outside the text, and whatever it accepts must survive a write and a
// second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "definitions/schedule_definition.h"
#include "schedule_document.h"
#include "support/settings_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using corvana::fuzzing::ScheduleFile;
  const auto& document = corvana::fuzzing::ScheduleDocument();
  ScheduleFile record;
  const char* text = reinterpret_cast<const char*>(data);
  // The scheduler's own document, which lets most values go, takes the same.
  corvana::ScheduleDefinition kept;
  const bool loads = corvana::ParseSettings(document, &record, text, size);
  if (corvana::ParseSettings(corvana::ScheduleDocument(), &kept, text, size) != loads) {
    std::fprintf(stderr, "the scheduler's document and the full one disagree\n");
    std::abort();
  }
  if (!loads) return 0;

  const std::string written =
      corvana::WriteSettings(document, record, "Corvana");
  ScheduleFile reread;
  if (!corvana::ParseSettings(document, &reread, written.data(),
                              written.size()) ||
      !corvana::fuzzing::SameFileFields(record, reread)) {
    std::fprintf(stderr, "accepted input does not survive a round trip\n");
    std::abort();
  }
  return 0;
}
