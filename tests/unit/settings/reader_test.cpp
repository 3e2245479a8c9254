#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "logging/log.h"
#include "settings/settings_document.h"
#include "settings_test_support.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
using settings_test::BuildTestDocument;
using settings_test::Sentinel;
using settings_test::TestRecord;
using testing::LogHeader;
using testing::LogLines;
using Lines = std::vector<std::string>;

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    BuildTestDocument(&document_);
  }

  bool Parse(const std::string& text, TestRecord* record) {
    return ParseSettings(document_, record, text.data(), text.size());
  }
  std::string PathOf(const std::string& name) {
    return dir_.WithSeparator() + name;
  }

  testing::TempDir dir_;
  SettingsDocument<TestRecord> document_{"Test Settings", 1.0};
};

// ---- the grammar -----------------------------------------------------------

TEST_F(ReaderTest, VersionLineForms) {
  struct Case {
    std::string text;
    bool ok;
    Lines log;
  };
  const Lines bad = {"Bad version project file"};
  const std::vector<Case> cases = {
      {"FormatVersion=1", true, {}},
      {"FormatVersion=1.0", true, {}},
      {"FormatVersion=1.00", true, {}},
      {"formatversion = 1\r\n", true, {}},
      {"/* header */ // note\nFORMATVERSION=1.", true, {}},
      {"FormatVersion=1,0", true, {}},  // a comma ends the number
      {"FormatVersion=1.0000000000000000001", true, {}},
      {"FormatVersion=2.0", false, bad},
      {"FormatVersion=0.1e1", false, bad},
      {"FormatVersion=-1", false, bad},
      {"FormatVersion=,", false, bad},
      {"FormatVersion=-", false, bad},
      {"FormatVersion=\"1\"", false, {}},
      {"FormatVersion 1", false, {}},
      {"FormatVersion=", false, {}},
      {"[Common]\nFormatVersion=1", false, {}},
      {"x FormatVersion=1", false, {}},
      {"\xef\xbb\xbf"
       "FormatVersion=1",
       false,
       {}},  // byte-order mark
      {std::string("\0FormatVersion=1", 16), false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    testing::InitContextAt(dir_.path().string());
    TestRecord record = Sentinel();
    EXPECT_EQ(Parse(c.text, &record), c.ok) << c.text;
    EXPECT_EQ(LogLines(LogHeader::kDropped), c.log) << c.text;
    EXPECT_EQ(record, Sentinel()) << "no section, no change: " << c.text;
  }
}

TEST_F(ReaderTest, OnlySectionHeadersMayFollowTheVersionLine) {
  const std::vector<std::string> texts = {
      "FormatVersion=1\nhour=5\n",          // key before any section
      "FormatVersion=1\n[Nope]\nhour=5\n",  // unrecognised header
      "FormatVersion=1\n[Nope]\n",
      "FormatVersion=1\nFormatVersion=1\n",  // a second version line
      "FormatVersion=1\n;\n",
      "FormatVersion=1\n5\n",
      "FormatVersion=1\n\"x\"\n",
      "FormatVersion=1\n=\n",
  };
  for (const std::string& text : texts) {
    testing::InitContextAt(dir_.path().string());
    TestRecord record = Sentinel();
    EXPECT_FALSE(Parse(text, &record)) << text;
    EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{}) << text;
  }
}

TEST_F(ReaderTest, EntriesAcceptBlanksCommentsAnyOrderAndRepeats) {
  const std::string text =
      "/** generated **/\n"
      "FormatVersion = 1.0\n"
      "\n"
      "[common]\n"
      "  HOUR = 5 // five\n"
      "dt_from=-12\tname=\"first\" /* inline */ name=\"second\"\n"
      "profile=\n\"p\"\n"
      "/*+&\n"
      "Enabled=0\n"
      "*/\n"
      "type_period=3";
  TestRecord record = Sentinel();
  ASSERT_TRUE(Parse(text, &record));
  EXPECT_EQ(record.hour, 5);
  EXPECT_EQ(record.dt_from, -12);
  EXPECT_EQ(record.name, "second");
  EXPECT_EQ(record.profile, "p");
  EXPECT_EQ(record.enabled, 0);
  EXPECT_EQ(record.type_period, 3);
  EXPECT_EQ(record.count, 77) << "section Other never occurred";
  EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{});
}

TEST_F(ReaderTest, ValuesOfTextKeys) {
  struct Case {
    std::string value;  // as written in the file
    std::string stored;
  };
  const std::vector<Case> cases = {
      {R"("plain")", "plain"},
      {R"("")", ""},
      {R"("say \"hi\"")", R"(say "hi")"},
      {R"("C:\\Logs\\")", R"(C:\Logs\)"},
      {R"("\n\t\q")", "ntq"},
      {R"("\\\"")", R"(\")"},
      {R"("http://x/*y*/")", "http://x/*y*/"},
      {"\"two\nlines\"", "two\nlines"},
      {"\"caf\xe9\"", "caf\xe9"},
  };
  for (const Case& c : cases) {
    TestRecord record;
    ASSERT_TRUE(Parse("FormatVersion=1\n[Common]\nname=" + c.value, &record))
        << c.value;
    EXPECT_EQ(record.name, c.stored) << c.value;
  }
}

TEST_F(ReaderTest, ValuesOfIntegerKeys) {
  struct Case {
    std::string value;
    int32_t stored;
  };
  const std::vector<Case> cases = {
      {"0", 0},
      {"12", 12},
      {"-12", -12},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"4294967295", -1},
      {"4294967296", 0},
      {"99999999999999999999", 1661992959},
      {"1.5", 1},
      {"1,5", 1},
      {",5", 0},
      {"-", 0},
      {"-.5", 0},
  };
  for (const Case& c : cases) {
    TestRecord record;
    // dt_from is a Long; the two integer types convert alike.
    ASSERT_TRUE(Parse(
        "FormatVersion=1\n[Common]\nhour=" + c.value + "\ndt_from=" + c.value,
        &record))
        << c.value;
    EXPECT_EQ(record.hour, c.stored) << c.value;
    EXPECT_EQ(record.dt_from, c.stored) << c.value;
  }
}

TEST_F(ReaderTest, RecordsOfOneDocumentAreIndependent) {
  TestRecord first;
  TestRecord second;
  ASSERT_TRUE(Parse("FormatVersion=1\n[Common]\nhour=1", &first));
  ASSERT_TRUE(Parse("FormatVersion=1\n[Common]\nhour=2", &second));
  EXPECT_EQ(first.hour, 1);
  EXPECT_EQ(second.hour, 2);
}

// ---- defaults --------------------------------------------------------------

TEST_F(ReaderTest, DefaultsApplyOnlyToSectionsThatOccur) {
  TestRecord record = Sentinel();
  ASSERT_TRUE(Parse("FormatVersion=1\n[Common]\nhour=5\n", &record));
  TestRecord expected;
  expected.hour = 5;
  expected.enabled = 1;       // declared default
  expected.type_period = 11;  // declared default
  expected.count = 77;        // section Other untouched
  EXPECT_EQ(record, expected);

  record = Sentinel();
  ASSERT_TRUE(Parse("FormatVersion=1\n[Other]\n", &record));
  expected = Sentinel();
  expected.count = 0;
  EXPECT_EQ(record, expected);
}

TEST_F(ReaderTest, RepeatedSectionResetsItsMissingKeys) {
  TestRecord record = Sentinel();
  ASSERT_TRUE(
      Parse("FormatVersion=1\n[Common]\nhour=5\nname=\"x\"\nenabled=0\n"
            "[Other]\ncount=3\n"
            "[COMMON]\ntype_period=4\n",
            &record));
  EXPECT_EQ(record.hour, 0);
  EXPECT_EQ(record.name, "");
  EXPECT_EQ(record.enabled, 1);
  EXPECT_EQ(record.type_period, 4);
  EXPECT_EQ(record.count, 3);
}

TEST_F(ReaderTest, BadValueKeepsStoredFieldsAndAppliesNoDefaults) {
  TestRecord record = Sentinel();
  EXPECT_FALSE(
      Parse("FormatVersion=1\n[Common]\nhour=5\nname=\"new\"\nenabled=\"1\"\n",
            &record));
  TestRecord expected = Sentinel();
  expected.hour = 5;
  expected.name = "new";
  EXPECT_EQ(record, expected);
  EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{});
}

TEST_F(ReaderTest, ProjectErrorAppliesDefaultsBeforeFailing) {
  TestRecord record = Sentinel();
  EXPECT_FALSE(Parse("FormatVersion=1\n[Common]\nhour=5\nfoo=1\n", &record));
  EXPECT_EQ(record.hour, 5);
  EXPECT_EQ(record.type_period, 11);
  EXPECT_EQ(record.name, "");
  EXPECT_EQ(record.count, 77);
}

// ---- failures: one case per row of the failure table, with its log ---------

TEST_F(ReaderTest, UnexpectedTokenInsideSectionLogsItsLine) {
  struct Case {
    std::string body;  // after "FormatVersion=1\n[Common]"
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"\nfoo=1\n", "foo=1"},
      {"\nhour=5\r\nfoo=1\r\nname=\"x\"\r\n", "foo=1"},
      {"\nhour=5\n\n\n  foo = 1 // why\n", "  foo = 1 // why"},
      {"\nhour=5 foo=1\n", " foo=1"},
      {" foo", " foo"},
      {"\n[Nope]\nhour=1\n", "[Nope]"},
      {"\n[ Common ]\n", "[ Common ]"},
      {"\ncount=1\n", "count=1"},
      {"\nhour@=5\n", "hour@=5"},  // a key, then a byte no name holds
      {"\n=5\n", "=5"},
      {"\n5\n", "5"},
      {"\n\"text\"\n", "\"text\""},
      {"\n;\n", ";"},
      {"\nFormatVersion=1\n", "FormatVersion=1"},
      {"\nhour=1 /* c */ ; rest\n", " /* c */ ; rest"},
      {"\n" + std::string(200, 'k') + "\n", std::string(119, 'k')},
      {std::string("\nx\0y", 4), "x"},
  };
  for (const Case& c : cases) {
    testing::InitContextAt(dir_.path().string());
    TestRecord record;
    EXPECT_FALSE(Parse("FormatVersion=1\n[Common]" + c.body, &record))
        << c.body;
    EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{" Project error, string=" + c.shown}) << c.body;
  }
}

TEST_F(ReaderTest, ValueOfTheWrongFormFailsSilently) {
  const std::vector<std::string> bodies = {
      "hour 5",      // missing "="
      "hour=\"5\"",  // a String for an integer
      "name=5",      // a Number for a text
      "name=other",  // a name for a text
      "hour==5",
      "hour=",  // the text ends where a value is expected
      "hour",
      "name=\"open",  // unterminated string where a value is expected
      "hour=*/ 5",    // a stray comment end where a value is expected
      "name=[Common]",
  };
  for (const std::string& body : bodies) {
    testing::InitContextAt(dir_.path().string());
    TestRecord record;
    EXPECT_FALSE(Parse("FormatVersion=1\n[Common]\n" + body, &record)) << body;
    EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{}) << body;
  }
}

TEST_F(ReaderTest, EarlyEndWhereAKeyIsExpectedSucceeds) {
  const std::vector<std::string> endings = {
      "*/ enabled=0 foo=1",
      "\"open string enabled=0",
      "[Common enabled=0",
      "/* open comment enabled=0",
  };
  for (const std::string& ending : endings) {
    testing::InitContextAt(dir_.path().string());
    TestRecord record;
    EXPECT_TRUE(Parse("FormatVersion=1\n[Common]\nhour=5\n" + ending, &record))
        << ending;
    EXPECT_EQ(record.hour, 5) << ending;
    EXPECT_EQ(record.enabled, 1) << "default, the rest unread: " << ending;
    EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{}) << ending;
  }
}

TEST_F(ReaderTest, LoadWithoutPathLogsNothing) {
  TestRecord record = Sentinel();
  EXPECT_FALSE(LoadSettings(document_, &record, platform::HeldFolder(), "", 0));
  EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{});
  EXPECT_EQ(record, Sentinel());
}

TEST_F(ReaderTest, LoadOfWhatCannotBeOpenedLogsTheCause) {
  std::filesystem::create_directory(dir_.path() / "folder.schedule");
  for (const char* name : {"missing.schedule", "folder.schedule"}) {
    testing::InitContextAt(dir_.path().string());
    const std::string path = PathOf(name);
    TestRecord record;
    EXPECT_FALSE(LoadSettings(document_, &record, dir_.Held(), name, 0)) << name;
    EXPECT_EQ(LogLines(LogHeader::kDropped), (Lines{"Load settings '" + path + "'...",
                               "Cannot open file '" + path + "'"}));
  }
}

TEST_F(ReaderTest, LoadReportsSuccessAndFailure) {
  struct Case {
    std::string content;
    bool ok;
    Lines after_first_line;
  };
  const std::vector<Case> cases = {
      {"FormatVersion=1\r\n[Common]\r\nhour=5\r\n",
       true,
       {"Load settings - OK"}},
      {"", false, {}},  // empty file: read, then refused without a message
      {"FormatVersion=2\n", false, {"Bad version project file"}},
      {"FormatVersion=1\n[Common]\nfoo=1\n",
       false,
       {" Project error, string=foo=1"}},
      {"FormatVersion=1\n[Common]\nhour=\"5\"\n", false, {}},
      {"[Common]\nhour=5\n", false, {}},
      {"FormatVersion=1\n[Nope]\n", false, {}},
      {"FormatVersion=1\n[Common]\nhour=5\n*/ foo",
       true,
       {"Load settings - OK"}},
  };
  for (const Case& c : cases) {
    testing::InitContextAt(dir_.path().string());
    dir_.Write("a.schedule", c.content);
    const std::string path = PathOf("a.schedule");
    TestRecord record;
    EXPECT_EQ(LoadSettings(document_, &record, dir_.Held(), "a.schedule", 0), c.ok) << c.content;
    Lines expected = {"Load settings '" + path + "'..."};
    expected.insert(expected.end(), c.after_first_line.begin(),
                    c.after_first_line.end());
    EXPECT_EQ(LogLines(LogHeader::kDropped), expected) << c.content;
  }
}

TEST_F(ReaderTest, LineEndsDoNotMatter) {
  const std::string lf =
      "/** a\n comment **/\nFormatVersion=1.0\n\n[Common]\nname=\"n\"\n"
      "hour=3\n// end\n";
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  dir_.Write("lf.schedule", lf);
  dir_.Write("crlf.schedule", crlf);
  TestRecord from_lf;
  TestRecord from_crlf;
  ASSERT_TRUE(LoadSettings(document_, &from_lf, dir_.Held(), "lf.schedule", 0));
  ASSERT_TRUE(LoadSettings(document_, &from_crlf, dir_.Held(), "crlf.schedule", 0));
  EXPECT_EQ(from_lf, from_crlf);
  EXPECT_EQ(from_lf.name, "n");
  EXPECT_EQ(from_lf.hour, 3);
}

TEST_F(ReaderTest, ReadWholeFileGivesTheTextModeText) {
  dir_.Write("t.txt", "ab\r\ncd\r\n");
  SettingsText text;
  ASSERT_TRUE(ReadWholeFile(dir_.Held(), "t.txt", 0, &text));
  const std::string read(text.data.get(), text.length);
#ifdef _WIN32
  EXPECT_EQ(read, "ab\ncd\n");
#else
  EXPECT_EQ(read, "ab\r\ncd\r\n");
#endif
  EXPECT_EQ(text.data[text.length], '\0');

  dir_.Write("empty.txt", "");
  SettingsText empty;
  ASSERT_TRUE(ReadWholeFile(dir_.Held(), "empty.txt", 0, &empty));
  EXPECT_EQ(empty.length, 0u);
  EXPECT_EQ(empty.data[0], '\0');
  EXPECT_EQ(LogLines(LogHeader::kDropped), Lines{});
}

// Ctrl-Z ends a text-mode file on Windows; elsewhere it is a byte like any
// other, which the grammar refuses.
TEST_F(ReaderTest, CtrlZEndsTheTextOnWindowsOnly) {
  dir_.Write("z.schedule", "FormatVersion=1\n[Common]\nhour=5\n\x1a junk");
  dir_.Write("only.schedule", "\x1a");
  const std::string z_path = PathOf("z.schedule");
  const std::string only_path = PathOf("only.schedule");
  TestRecord record;
  bool z_ok = LoadSettings(document_, &record, dir_.Held(), "z.schedule", 0);
  bool only_ok = LoadSettings(document_, &record, dir_.Held(), "only.schedule", 0);
  EXPECT_FALSE(only_ok);
#ifdef _WIN32
  EXPECT_TRUE(z_ok);
  EXPECT_EQ(LogLines(LogHeader::kDropped),
            (Lines{"Load settings '" + z_path + "'...", "Load settings - OK",
                   "Load settings '" + only_path + "'...",
                   "Could not read from file '" + only_path + "'."}));
#else
  EXPECT_FALSE(z_ok);
  EXPECT_EQ(LogLines(LogHeader::kDropped), (Lines{"Load settings '" + z_path + "'...",
                             // A user's control character, shown escaped.
                             " Project error, string=\\x1a junk",
                             "Load settings '" + only_path + "'..."}));
#endif
}

// ---- hostile inputs, the shapes the fuzzer is seeded with ------------------

TEST_F(ReaderTest, HostileInputs) {
  struct Case {
    std::string text;
    bool ok;
    Lines log;
  };
  const std::string huge_name(65536, 'k');
  const std::vector<Case> cases = {
      // A version of 5000 digits is cut at 1024 and read as a number.
      {"FormatVersion=" + std::string(5000, '1'),
       false,
       {"Bad version project file"}},
      // The cut leaves the rest of the zeros as a second number, which no
      // section may hold.
      {"FormatVersion=1." + std::string(2000, '0') + "\n[Common]\n", false, {}},
      {"FormatVersion=1\n[Common]\n" + huge_name + "=1\n",
       false,
       {" Project error, string=" + std::string(119, 'k')}},
      {"FormatVersion=1\n[Common]\nname=\"" + huge_name + "\"\n", true, {}},
      {"FormatVersion=1\n[Common]\n[" + std::string(3000, 'h') + "]\n",
       false,
       {" Project error, string=[" + std::string(118, 'h')}},
      {"FormatVersion=1\n[Common]\nname=\"abc\\", false, {}},
      {std::string(1, '\0'), false, {}},
      {"\r\n", false, {}},
  };
  for (const Case& c : cases) {
    testing::InitContextAt(dir_.path().string());
    TestRecord record;
    EXPECT_EQ(Parse(c.text, &record), c.ok) << c.text.substr(0, 40);
    EXPECT_EQ(LogLines(LogHeader::kDropped), c.log) << c.text.substr(0, 40);
  }
}

// ---- conversions -----------------------------------------------------------

TEST(SettingsConversionTest, NumberToReal) {
  const std::vector<std::pair<std::string, double>> cases = {
      {"1", 1.0},
      {"1.0", 1.0},
      {"1.00", 1.0},
      {"1.", 1.0},
      {".5", 0.5},
      {"-2.5", -2.5},
      {"1,5", 1.0},
      {"1.2.3", 1.2},
      {",", 0.0},
      {".", 0.0},
      {"-", 0.0},
      {"", 0.0},
      {"0012.50", 12.5},
      {"0.1", 0.1},
      {"-12345678901.2345", -12345678901.2345},
      {"1234567890123.4567", 1234567890123.4567},
      {std::string(400, '9'), HUGE_VAL},
      {"-00" + std::string(400, '9'), -HUGE_VAL},
      {"0." + std::string(400, '0') + "1", 0.0},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(NumberToReal(text.c_str()), value) << text;
  }
}

TEST(SettingsConversionTest, RealConversionIgnoresTheLocale) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8",          "de_DE",
                         "German",      "German_Germany.1252", "fr_FR.UTF-8"};
  std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr &&
        *std::localeconv()->decimal_point == ',') {
      chosen = name;
      break;
    }
  }
  if (chosen == nullptr) {
    std::setlocale(LC_ALL, saved.c_str());
    GTEST_SKIP() << "no locale with a decimal comma on this machine";
  }
  double point = NumberToReal("1.5");
  double comma = NumberToReal("1,5");
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(point, 1.5) << chosen;
  EXPECT_EQ(comma, 1.0) << chosen;
}

TEST(SettingsConversionTest, UnescapeDropsEachBackslashOnce) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"plain", "plain"},
      {R"(a\"b)", R"(a"b)"},
      {R"(\\)", R"(\)"},
      {R"(\\\\)", R"(\\)"},
      {R"(\n)", "n"},
      {R"(\\n)", R"(\n)"},
      {R"(x\\\"y)", R"(x\"y)"},
  };
  for (const auto& [escaped, plain] : cases) {
    std::string text = escaped;
    Unescape(&text);
    EXPECT_EQ(text, plain) << escaped;
  }
}

}  // namespace
}  // namespace corvana
