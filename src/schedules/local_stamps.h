// Local times as `schedules` reads and shows them: "yyyy-mm-dd hh:mm:ss" as
// the log's stamps and --from give them, and the starts with their offset
// from UTC, which tells apart the two instances of a time in autumn.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "calendar/zone_offset.h"
#include "schedules/next_starts.h"

namespace corvana::schedules {

// "yyyy-mm-dd hh:mm:ss" in local time, and back (false when malformed or
// not a local time that exists).
std::string LocalStamp(int64_t seconds);
void AppendLocalStamp(int64_t seconds, std::string* out);
// The same, the local time found through the zone's days of one report.
void AppendLocalStamp(int64_t seconds, ZoneDays* zone_days, std::string* out);
bool ParseLocalStamp(const std::string& text, int64_t* seconds);
// The latest second not after `limit_s` that a log's stamp names: in the
// hour repeated in autumn it names two. `zone_days`, when given, remembers
// the zone's days for the stamps of one report.
std::optional<int64_t> StampNotAfter(const std::string& stamp, int64_t limit_s,
                                     ZoneDays* zone_days = nullptr);

// "yyyy-mm-dd hh:mm:ss +hh:mm", as the starts are shown.
void AppendStamp(const Start& start, std::string* out);
std::string StartStamp(const Start& start);
std::string OffsetStamp(int64_t seconds);
// Writes the stamps of one table into a buffer with room for each: the
// date and where its day begins are worked out once for the starts that
// fall on the same day.
class StampWriter {
 public:
  // AppendStamp's text at `out`; gives the end of what it wrote.
  char* Put(const Start& start, char* out);

 private:
  // A month's "yyyy-mm-" and where its first day begins, for a stamp whose
  // fields all take their usual widths: the starts of a table hop between
  // a few months, and working out the date afresh at each hop was half of
  // a stamp.
  struct Month {
    int64_t key = -1;  // year * 12 + month index
    int64_t first_civil_s = 0;
    char prefix[8] = {};
  };
  static constexpr size_t kMonths = 16;
  char* PutAnyFields(const Start& start, char* out);
  const Month& MonthOf(int year, int month_index);

  Month months_[kMonths];
  platform::LocalTime day_{-1, -1, -1, 0, 0, 0};
  int64_t day_civil_s_ = 0;
  char date_[48] = {};
  size_t date_length_ = 0;
};

// "hh:mm:ss" of a local time; gives the end of what it wrote.
char* PutClock(const platform::LocalTime& local, char* out);
// At least `width` digits of a value that is not negative, zeros ahead.
void AppendDigits(int value, int width, std::string* out);

}  // namespace corvana::schedules
