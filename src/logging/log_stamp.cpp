#include "logging/log_stamp.h"

#include <cstdio>

namespace corvana {
namespace {

// "yyyy-mm-dd hh:mm:ss"
constexpr size_t kTimeLength = 19;

// The digits at `at` as a number; -1 when one of them is no digit.
int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
    if (digit > 9) return -1;
    value = value * 10 + static_cast<int>(digit);
  }
  return value;
}

}  // namespace

// A year below 1000 is written with spaces, which no reader takes: no
// clock the service runs on shows one.
std::string LogStamp(const platform::LocalTime& local) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "[%4i-%02i-%02i %02i:%02i:%02i] ", local.year,
                local.month_index + 1, local.day, local.hour, local.minute,
                local.second);
  return stamp;
}

// Read at fixed places, not by sscanf nor by walking the shape: a log of a
// busy day has tens of thousands of stamps, and `schedules` reads each one.
bool ReadStampTime(std::string_view text, platform::LocalTime* local) {
  if (text.size() != kTimeLength || text[4] != '-' || text[7] != '-' ||
      text[10] != ' ' || text[13] != ':' || text[16] != ':') {
    return false;
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2);
  const int minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    return false;
  }
  *local = {year, month - 1, day, hour, minute, second};
  return true;
}

std::optional<std::string_view> LogStampTime(std::string_view line) {
  platform::LocalTime local;
  if (line.size() < kLogStampLength || line[0] != '[' ||
      line[kTimeLength + 1] != ']' || line[kTimeLength + 2] != ' ' ||
      !ReadStampTime(line.substr(1, kTimeLength), &local)) {
    return std::nullopt;
  }
  return line.substr(1, kTimeLength);
}

}  // namespace corvana
