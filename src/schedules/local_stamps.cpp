#include "schedules/local_stamps.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calendar/zone_offset.h"
#include "logging/log_stamp.h"
#include "platform/civil_date.h"
#include "platform/clock.h"

namespace corvana::schedules {
namespace {

// AppendDigits into a buffer; gives the end of what it wrote.
char* PutDigits(int value, int width, char* out) {
  char digits[12];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && length < 11);
  for (; width > length; --width) *out++ = '0';
  while (length > 0) *out++ = digits[--length];
  return out;
}

constexpr std::array<char, 200> BuildDigitPairs() {
  std::array<char, 200> pairs{};
  for (int value = 0; value < 100; ++value) {
    pairs[2 * value] = static_cast<char>('0' + value / 10);
    pairs[2 * value + 1] = static_cast<char>('0' + value % 10);
  }
  return pairs;
}

// Two digits are nearly every field of a stamp, and a year is two pairs:
// copied from "00" to "99" rather than divided out, for the seven pairs of
// each of 50,000 stamps in a report. `value` is 0 to 99.
char* PutTwo(int value, char* out) {
  static constexpr std::array<char, 200> kDigitPairs = BuildDigitPairs();
  std::memcpy(out, &kDigitPairs[2 * value], 2);
  return out + 2;
}

char* PutSeparated(int value, char separator, char* out) {
  *out++ = separator;
  return value < 0 || value > 99 ? PutDigits(value, 2, out) : PutTwo(value, out);
}

// "yyyy-mm-dd", as "%04d-%02d-%02d" writes it for fields that are not
// negative.
char* PutDate(const platform::LocalTime& local, char* out) {
  out = local.year < 1000 || local.year > 9999
            ? PutDigits(local.year, 4, out)
            : PutTwo(local.year % 100, PutTwo(local.year / 100, out));
  out = PutSeparated(local.month_index + 1, '-', out);
  return PutSeparated(local.day, '-', out);
}

// " hh:mm:ss" behind a date.
char* PutTimeOfDay(const platform::LocalTime& local, char* out) {
  out = PutSeparated(local.hour, ' ', out);
  out = PutSeparated(local.minute, ':', out);
  return PutSeparated(local.second, ':', out);
}

// "yyyy-mm-dd hh:mm:ss"
char* PutLocal(const platform::LocalTime& local, char* out) {
  return PutTimeOfDay(local, PutDate(local, out));
}

// A day of the month, written as two digits.
bool InMonth(int day) { return day >= 1 && day <= 31; }

bool NoneNegative(const platform::LocalTime& local) {
  return local.year >= 0 && local.month_index >= -1 && local.day >= 0 &&
         local.hour >= 0 && local.minute >= 0 && local.second >= 0;
}

}  // namespace

void AppendDigits(int value, int width, std::string* out) {
  char text[24];
  out->append(text, PutDigits(value, width, text));
}

void AppendStamp(const Start& start, std::string* out) {
  StampWriter stamps;
  char text[128];
  out->append(text, stamps.Put(start, text));
}

namespace {

// Every field of the stamp has its usual width: four digits of year, two of
// the others.
bool UsualWidths(const platform::LocalTime& local) {
  return local.year >= 1000 && local.year <= 9999 && local.month_index >= 0 &&
         local.month_index <= 11 && InMonth(local.day) &&
         static_cast<unsigned>(local.hour) <= 99 && static_cast<unsigned>(local.minute) <= 99 &&
         static_cast<unsigned>(local.second) <= 99;
}

}  // namespace

const StampWriter::Month& StampWriter::MonthOf(int year, int month_index) {
  const int64_t key = int64_t{year} * 12 + month_index;
  Month& month = months_[static_cast<uint64_t>(key) % kMonths];
  if (month.key == key) return month;
  month.key = key;
  month.first_civil_s = platform::DaysFromCivil(year, month_index + 1, 1) * kDayS;
  char* out = PutTwo(year % 100, PutTwo(year / 100, month.prefix));
  *PutSeparated(month_index + 1, '-', out) = '-';
  return month;
}

// Written at fixed places from the month's prefix: a report of 10,000 rows
// has 50,000 stamps.
char* StampWriter::Put(const Start& start, char* out) {
  const platform::LocalTime& local = start.local;
  if (!UsualWidths(local)) return PutAnyFields(start, out);
  const Month& month = MonthOf(local.year, local.month_index);
  const int second_of_day = (local.hour * 60 + local.minute) * 60 + local.second;
  const int64_t civil_s = month.first_civil_s + (local.day - 1) * kDayS + second_of_day;
  const int64_t offset_min = (civil_s - start.seconds) / 60;
  const int64_t offset_hours = std::abs(offset_min) / 60;
  if (offset_hours > 99) return PutAnyFields(start, out);
  std::memcpy(out, month.prefix, sizeof month.prefix);
  PutTwo(local.day, out + 8);
  out[10] = ' ';
  PutTwo(local.hour, out + 11);
  out[13] = ':';
  PutTwo(local.minute, out + 14);
  out[16] = ':';
  PutTwo(local.second, out + 17);
  out[19] = ' ';
  out[20] = offset_min < 0 ? '-' : '+';
  PutTwo(static_cast<int>(offset_hours), out + 21);
  out[23] = ':';
  PutTwo(static_cast<int>(std::abs(offset_min) % 60), out + 24);
  return out + 26;
}

// Stamps whose fields may be of any width: most in the month of the one
// before, whose date they share but for the day.
char* StampWriter::PutAnyFields(const Start& start, char* out) {
  const platform::LocalTime& local = start.local;
  if (date_length_ != 0 && local.year == day_.year &&
      local.month_index == day_.month_index && InMonth(local.day) && InMonth(day_.day)) {
    day_civil_s_ += static_cast<int64_t>(local.day - day_.day) * kDayS;
    day_.day = local.day;
    PutTwo(local.day, date_ + date_length_ - 2);
  } else if (date_length_ == 0 || local.year != day_.year ||
             local.month_index != day_.month_index || local.day != day_.day) {
    day_ = {local.year, local.month_index, local.day, 0, 0, 0};
    day_civil_s_ = LocalCivilSeconds(day_);
    date_length_ = static_cast<size_t>(PutDate(local, date_) - date_);
  }
  const int64_t civil_s =
      day_civil_s_ + (local.hour * 60 + local.minute) * 60 + local.second;
  const int64_t offset_min = (civil_s - start.seconds) / 60;
  std::memcpy(out, date_, date_length_);
  char* p = PutTimeOfDay(local, out + date_length_);
  *p++ = ' ';
  p = PutSeparated(static_cast<int>(std::abs(offset_min) / 60),
                   offset_min < 0 ? '-' : '+', p);
  return PutSeparated(static_cast<int>(std::abs(offset_min) % 60), ':', p);
}

std::string StartStamp(const Start& start) {
  std::string text;
  AppendStamp(start, &text);
  return text;
}

namespace {

void AppendLocal(const platform::LocalTime& local, std::string* out) {
  char text[64];
  // A row's last start is one of these: snprintf was a tenth of the table.
  if (NoneNegative(local)) {
    out->append(text, PutLocal(local, text));
    return;
  }
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.year,
                local.month_index + 1, local.day, local.hour, local.minute,
                local.second);
  out->append(text);
}

}  // namespace

void AppendLocalStamp(int64_t seconds, std::string* out) {
  platform::LocalTime local;
  if (!platform::ToLocalTime(seconds, &local)) return out->push_back('?');
  AppendLocal(local, out);
}

void AppendLocalStamp(int64_t seconds, ZoneDays* zone_days, std::string* out) {
  platform::LocalTime local;
  if (!zone_days->LocalAt(seconds, &local)) return out->push_back('?');
  AppendLocal(local, out);
}

std::string LocalStamp(int64_t seconds) {
  std::string text;
  AppendLocalStamp(seconds, &text);
  return text;
}

char* PutClock(const platform::LocalTime& local, char* out) {
  out = static_cast<unsigned>(local.hour) <= 99 ? PutTwo(local.hour, out)
                                                : PutDigits(local.hour, 2, out);
  out = PutSeparated(local.minute, ':', out);
  return PutSeparated(local.second, ':', out);
}

namespace {

// The fields a stamp shows, compared instead of two stamps' text: the
// replay reads one stamp per definition, and formatting three candidates
// each showed in the whole run of `schedules`.
bool SameStampFields(const platform::LocalTime& a, const platform::LocalTime& b) {
  return a.year == b.year && a.month_index == b.month_index && a.day == b.day &&
         a.hour == b.hour && a.minute == b.minute && a.second == b.second;
}

}  // namespace

// Out-of-range fields would carry over; a skipped local time moves. A stamp
// as the log writes them, read without sscanf (the replay reads one per
// definition), reads back as the same fields; other text must read back as
// itself.
bool ParseLocalStamp(const std::string& text, int64_t* seconds) {
  if (text.size() != 19) return false;
  platform::LocalTime shown;
  platform::LocalTime local;
  if (ReadStampTime(text, &shown)) {
    return platform::FromLocalTime(shown.year, shown.month_index, shown.day, shown.hour,
                                   shown.minute, shown.second, seconds) &&
           platform::ToLocalTime(*seconds, &local) && SameStampFields(local, shown);
  }
  int f[6];  // year, month, day, hour, minute, second
  char tail;
  return std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &f[0], &f[1], &f[2],
                     &f[3], &f[4], &f[5], &tail) == 6 &&
         platform::FromLocalTime(f[0], f[1] - 1, f[2], f[3], f[4], f[5], seconds) &&
         LocalStamp(*seconds) == text;
}

namespace {

// A stamp of a day on which the clocks stay names one second, found from the
// day's offset without the zone's conversions both ways (three of them, and
// mktime, for each row of a report); other stamps go the long way.
std::optional<std::optional<int64_t>> StampOnSteadyDay(const std::string& stamp,
                                                      int64_t limit_s,
                                                      ZoneDays* zone_days) {
  platform::LocalTime shown;
  if (zone_days == nullptr || !ReadStampTime(stamp, &shown) || shown.second > 59 ||
      shown.year < 1971 || shown.year > 9999 ||
      shown.day > platform::DaysInMonth(shown.year, shown.month_index + 1)) {
    return std::nullopt;
  }
  const ZoneDays::Day day = zone_days->At(shown.year, shown.month_index + 1, shown.day);
  if (day.changes) return std::nullopt;
  const int64_t seconds = LocalCivilSeconds(shown) - day.offset_s;
  return seconds <= limit_s ? std::optional<int64_t>(seconds) : std::nullopt;
}

}  // namespace

std::optional<int64_t> StampNotAfter(const std::string& stamp, int64_t limit_s,
                                     ZoneDays* zone_days) {
  if (const auto steady = StampOnSteadyDay(stamp, limit_s, zone_days)) return *steady;
  int64_t seconds = 0;
  platform::LocalTime shown;
  // ParseLocalStamp made sure that `seconds` reads back as the stamp.
  if (!ParseLocalStamp(stamp, &seconds) || !platform::ToLocalTime(seconds, &shown)) {
    return std::nullopt;
  }
  std::optional<int64_t> latest;
  for (int64_t shift_s : {-3600, 0, 3600}) {
    const int64_t candidate = seconds + shift_s;
    if (candidate > limit_s) continue;
    platform::LocalTime local;
    if (shift_s == 0 ||
        (platform::ToLocalTime(candidate, &local) && SameStampFields(local, shown))) {
      latest = candidate;
    }
  }
  return latest;
}

std::string OffsetStamp(int64_t seconds) {
  Start start{seconds, {}};
  if (!platform::ToLocalTime(seconds, &start.local)) return "?";
  return StartStamp(start);
}

}  // namespace corvana::schedules
