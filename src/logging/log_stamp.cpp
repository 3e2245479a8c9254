#include "logging/log_stamp.h"

#include <cstdio>

namespace corvana {
namespace {

constexpr char kTimeShape[] = "dddd-dd-dd dd:dd:dd";
constexpr size_t kTimeLength = sizeof kTimeShape - 1;

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

// Read by hand, not by sscanf: a log of a busy day has tens of thousands of
// stamps.
bool ReadStampTime(std::string_view text, platform::LocalTime* local) {
  if (text.size() != kTimeLength) return false;
  int fields[6] = {};  // year, month, day, hour, minute, second
  int* field = fields;
  for (size_t i = 0; i < kTimeLength; ++i) {
    const char c = text[i];
    if (kTimeShape[i] != 'd') {
      if (c != kTimeShape[i]) return false;
      ++field;
    } else if (c >= '0' && c <= '9') {
      *field = *field * 10 + (c - '0');
    } else {
      return false;
    }
  }
  if (fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 ||
      fields[3] > 23 || fields[4] > 59 || fields[5] > 60) {
    return false;
  }
  *local = {fields[0], fields[1] - 1, fields[2], fields[3], fields[4], fields[5]};
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
