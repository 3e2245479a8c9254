// Any record, written and read back, is the same record: texts of any bytes
// and integers of any value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "schedule_document.h"
#include "support/settings_writer.h"

namespace {

corvana::fuzzing::ScheduleFile RecordFrom(FuzzedDataProvider* input) {
  corvana::fuzzing::ScheduleFile record;
  for (std::string* text : {&record.name, &record.profile}) {
    *text = input->ConsumeRandomLengthString(4096);
  }
  int32_t* const numbers[] = {&record.type_action,
                              &record.enabled,
                              &record.type_schedule,
                              &record.type_period,
                              &record.confirm_period,
                              &record.comparison,
                              &record.compar_tp,
                              &record.compar_fld,
                              &record.day,
                              &record.month,
                              &record.year,
                              &record.hour,
                              &record.min,
                              &record.sec,
                              &record.nday_week,
                              &record.days_week,
                              &record.dt_from,
                              &record.dt_to,
                              &record.compr_from,
                              &record.compr_to};
  for (int32_t* number : numbers) {
    // Small values and defaults are the interesting ones; the full range
    // comes up too.
    *number = input->ConsumeBool() ? input->ConsumeIntegralInRange(-2, 12)
                                   : input->ConsumeIntegral<int32_t>();
  }
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const corvana::fuzzing::ScheduleFile record = RecordFrom(&input);
  const auto& document = corvana::fuzzing::ScheduleDocument();
  const std::string written =
      corvana::WriteSettings(document, record, "Corvana");
  corvana::fuzzing::ScheduleFile read;
  read.name = "stale";
  read.enabled = 99;
  if (!corvana::ParseSettings(document, &read, written.data(),
                              written.size()) ||
      !corvana::fuzzing::SameFileFields(record, read)) {
    std::fprintf(stderr, "record does not survive a round trip\n");
    std::abort();
  }
  return 0;
}
