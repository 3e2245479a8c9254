#include <gtest/gtest.h>

#include "logging/escape.h"
#include "platform/env.h"

namespace corvana {
namespace {

// What the log, the events and `schedules` show of a user's bytes; the last
// column is Windows', whose lone high bytes are its code page's characters.
TEST(EscapeTest, EveryWriterShowsTheseBytesSo) {
  const struct { std::string raw, shown, shown_in_code_page; } kCases[] = {
      {"C:\\Data\\a\\xy b", "C:\\Data\\a\\xy b", "C:\\Data\\a\\xy b"},
      {"t\tr\rn\ne\x1b" "d\x7f", "t\\x09r\\x0dn\\x0ae\\x1bd\\x7f", "t\\x09r\\x0dn\\x0ae\\x1bd\\x7f"},
      {"New\\x0aLine\\xFf\\x1", "New\\x5cx0aLine\\x5cxFf\\x1", "New\\x5cx0aLine\\x5cxFf\\x1"},
      {"csi\xc2\x9b" "2J", "csi\\xc2\\x9b2J", "csi\\xc2\\x9b2J"},
      {"Load settings\x1b[2J", "Load settings\\x1b[2J", "Load settings\\x1b[2J"},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\x85\xc2\xa0", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\x85\xc2\xa0",
       "\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\x85\xc2\xa0"},
      {"\x80\x9b\xe9", "\\x80\\x9b\\xe9", "\x80\x9b\xe9"},
      {"\xe0\x82\x9b\xc0\xaf", "\\xe0\\x82\\x9b\\xc0\\xaf", "\xe0\x82\x9b\xc0\xaf"},
      {"\xed\xa0\x80\xf4\x90\x80\x80", "\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80", "\xed\xa0\x80\xf4\x90\x80\x80"},
      {"\xf0\x9f\x93" "A\xe2\x82", "\\xf0\\x9f\\x93A\\xe2\\x82", "\xf0\x9f\x93" "A\xe2\x82"},
  };
  for (const auto& c : kCases) {
    const std::string& shown = platform::kLoneHighBytesArePrintable ? c.shown_in_code_page : c.shown;
    EXPECT_EQ(EscapeControlCharacters(c.raw), shown) << c.shown;
    EXPECT_EQ(NeedsEscaping(c.raw), shown != c.raw) << c.shown;
  }
}

}  // namespace
}  // namespace corvana
