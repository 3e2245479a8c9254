// Local-time conversion as the due rules and packed dates rely on it. Times
// are taken at midday so that no zone's daylight-saving switch touches them.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/clock.h"

namespace corvana {
namespace {

using platform::LocalTime;

struct Fields {
  int year, month_index, day, hour, minute, second;
};

LocalTime Convert(const Fields& f) {
  int64_t seconds = 0;
  EXPECT_TRUE(platform::FromLocalTime(f.year, f.month_index, f.day, f.hour,
                                      f.minute, f.second, &seconds));
  LocalTime local;
  EXPECT_TRUE(platform::ToLocalTime(seconds, &local));
  return local;
}

void ExpectFields(const LocalTime& t, const Fields& f, int weekday) {
  EXPECT_EQ(t.year, f.year);
  EXPECT_EQ(t.month_index, f.month_index);
  EXPECT_EQ(t.day, f.day);
  EXPECT_EQ(t.hour, f.hour);
  EXPECT_EQ(t.minute, f.minute);
  EXPECT_EQ(t.second, f.second);
  EXPECT_EQ(t.weekday, weekday);
}

TEST(LocalTimeTest, RoundTripKeepsEveryField) {
  const struct {
    Fields fields;
    int weekday;  // 0 = Sunday
  } cases[] = {
      {{2024, 0, 1, 12, 0, 0}, 1},
      {{2000, 1, 29, 12, 34, 56}, 2},
      {{2026, 11, 7, 12, 59, 59}, 1},
      {{2037, 11, 31, 11, 1, 2}, 4},
      {{2040, 5, 15, 12, 30, 0}, 5},  // past the 32-bit end of time
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fields.year);
    ExpectFields(Convert(c.fields), c.fields, c.weekday);
  }
}

TEST(LocalTimeTest, OutOfRangeFieldsCarryOver) {
  const struct {
    Fields given;
    Fields normalised;
    int weekday;
  } cases[] = {
      {{2026, 0, 31, 25, 0, 0}, {2026, 1, 1, 1, 0, 0}, 0},     // hour 25
      {{2026, 12, 1, 12, 0, 0}, {2027, 0, 1, 12, 0, 0}, 5},    // month 12
      {{2026, -1, 1, 12, 0, 0}, {2025, 11, 1, 12, 0, 0}, 1},   // month -1
      {{2026, 2, 0, 12, 0, 0}, {2026, 1, 28, 12, 0, 0}, 6},    // day 0
      {{2024, 1, 30, 12, 0, 0}, {2024, 2, 1, 12, 0, 0}, 5},    // 30 February
      {{2026, 5, 10, 11, 60, 0}, {2026, 5, 10, 12, 0, 0}, 3},  // minute 60
      {{2026, 5, 10, 12, 0, 125}, {2026, 5, 10, 12, 2, 5}, 3},
      {{2026, 5, 10, -12, 0, 0}, {2026, 5, 9, 12, 0, 0}, 2},   // hour -12
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.given.month_index << "/"
                                      << c.given.day << " " << c.given.hour);
    ExpectFields(Convert(c.given), c.normalised, c.weekday);
  }
}

TEST(LocalTimeTest, ConsecutiveDaysAreADayApartAtMidday) {
  int64_t first = 0;
  int64_t second = 0;
  ASSERT_TRUE(platform::FromLocalTime(2026, 6, 1, 12, 0, 0, &first));
  ASSERT_TRUE(platform::FromLocalTime(2026, 6, 2, 12, 0, 0, &second));
  EXPECT_EQ(second - first, 86400);
}

}  // namespace
}  // namespace corvana
