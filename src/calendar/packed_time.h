// Local dates packed into one word, and whole units between two moments.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace corvana {

// date: day in bits 0-7, month 1-12 in bits 8-15, year in bits 16-31; 0 is
// "no date". time: seconds since local midnight.
struct PackedDateTime {
  uint32_t date = 0;
  uint32_t time = 0;
  friend bool operator==(const PackedDateTime&, const PackedDateTime&) = default;
};

inline constexpr uint32_t PackDate(int year, int month, int day) {
  return (static_cast<uint32_t>(year) << 16) |
         (static_cast<uint32_t>(month & 0xFF) << 8) |
         static_cast<uint32_t>(day & 0xFF);
}

PackedDateTime PackLocalTime(const platform::LocalTime& local);

// Whole units (absolute, truncated) between two times in seconds since 1970.
int32_t ElapsedSecondsInUnits(int64_t a_s, int64_t b_s, int32_t unit_s);

}  // namespace corvana
