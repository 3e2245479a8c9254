// The stamp in front of every timed line of the log,
// "[yyyy-mm-dd hh:mm:ss] ". The service writes it and `schedules` reads it
// back, both through this file: a stamp the writer changed and the reader
// did not know would make every past run vanish from the preview.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace corvana {

// The stamp with the space behind it.
inline constexpr size_t kLogStampLength = 22;

std::string LogStamp(const platform::LocalTime& local);

// The date and time, "yyyy-mm-dd hh:mm:ss", of the stamp a line begins
// with; nothing when it begins with none.
std::optional<std::string_view> LogStampTime(std::string_view line);

// The fields of a stamp's date and time: digits in their places, each
// field in its range (the year is not checked; the weekday is left 0).
// False for any other text.
bool ReadStampTime(std::string_view text, platform::LocalTime* local);

}  // namespace corvana
