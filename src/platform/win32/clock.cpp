#include "platform/clock.h"

#include <windows.h>

#include "platform/civil_date.h"

namespace corvana::platform {
namespace {

constexpr int64_t kUnixEpochAs100ns = 116444736000000000LL;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b) != 0 && ((a < 0) != (b < 0))); }

// FILETIME counts 100 ns from 1601 in 63 bits; outside that the product
// below would overflow.
constexpr int64_t kFirstFileTimeSecond = -kUnixEpochAs100ns / 10000000LL;
constexpr int64_t kLastFileTimeSecond =
    (INT64_MAX - kUnixEpochAs100ns) / 10000000LL;

bool SystemTimeFromSeconds(int64_t seconds, SYSTEMTIME* out) {
  if (seconds < kFirstFileTimeSecond || seconds > kLastFileTimeSecond) {
    return false;
  }
  ULARGE_INTEGER value;
  value.QuadPart = static_cast<ULONGLONG>(seconds * 10000000LL + kUnixEpochAs100ns);
  FILETIME file_time{value.LowPart, value.HighPart};
  return FileTimeToSystemTime(&file_time, out) != 0;
}

bool SecondsFromSystemTime(const SYSTEMTIME& time, int64_t* seconds) {
  FILETIME file_time;
  if (!SystemTimeToFileTime(&time, &file_time)) return false;
  ULARGE_INTEGER value{{file_time.dwLowDateTime, file_time.dwHighDateTime}};
  *seconds = (static_cast<int64_t>(value.QuadPart) - kUnixEpochAs100ns) / 10000000LL;
  return true;
}

}  // namespace

int64_t SystemNowSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER value{{now.dwLowDateTime, now.dwHighDateTime}};
  return (static_cast<int64_t>(value.QuadPart) - kUnixEpochAs100ns) / 10000000LL;
}

int64_t SystemMonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

void SystemSleepMs(int ms) {
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

// The zone comes from Windows itself; the C runtime's localtime misreads TZ.
void ReloadTimeZone() {}

bool ToLocalTime(int64_t seconds_since_1970, LocalTime* out) {
  SYSTEMTIME utc;
  SYSTEMTIME local;
  if (!SystemTimeFromSeconds(seconds_since_1970, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return false;
  }
  out->year = local.wYear;
  out->month_index = local.wMonth - 1;
  out->day = local.wDay;
  out->hour = local.wHour;
  out->minute = local.wMinute;
  out->second = local.wSecond;
  out->weekday = WeekdayOfDays(DaysFromCivil(local.wYear, local.wMonth, local.wDay));
  return true;
}

bool FromLocalTime(int year, int month_index, int day, int hour, int minute,
                   int second, int64_t* seconds_since_1970) {
  // Carry out-of-range fields over first, as mktime does.
  const int64_t months = static_cast<int64_t>(year) * 12 + month_index;
  const int64_t years = FloorDiv(months, 12);
  const int64_t days =
      DaysFromCivil(years, static_cast<int>(months - years * 12 + 1), 1) + day - 1;
  const int64_t naive = days * 86400 + static_cast<int64_t>(hour) * 3600 +
                        static_cast<int64_t>(minute) * 60 + second;
  const int64_t naive_days = FloorDiv(naive, 86400);
  const int64_t day_seconds = naive - naive_days * 86400;
  const CivilDate civil = CivilFromDays(naive_days);
  if (civil.year < 1601 || civil.year > 30827) return false;
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(civil.year);
  local.wMonth = static_cast<WORD>(civil.month);
  local.wDay = static_cast<WORD>(civil.day);
  local.wHour = static_cast<WORD>(day_seconds / 3600);
  local.wMinute = static_cast<WORD>(day_seconds % 3600 / 60);
  local.wSecond = static_cast<WORD>(day_seconds % 60);
  SYSTEMTIME utc;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return false;
  return SecondsFromSystemTime(utc, seconds_since_1970);
}

}  // namespace corvana::platform
