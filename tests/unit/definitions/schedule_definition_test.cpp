#include "definitions/schedule_definition.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixtures.h"

namespace corvana {
namespace {
using testing::LogBodies;
using testing::LogHeader;

class ScheduleFileTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::InitContextAt(context_dir_.path().string()); }

  // Writes the file into the folder and reads it back.
  bool Read(const std::string& file_name, const std::string& content,
            ScheduleDefinition* record) {
    files_.Write(file_name, content);
    return ReadScheduleFile(files_.Held(), file_name.c_str(), record);
  }

  testing::TempDir context_dir_;
  testing::TempDir files_;
};

TEST_F(ScheduleFileTest, ReadsTheExampleFile) {
  ScheduleDefinition schedule;
  ASSERT_TRUE(Read("Nightly.schedule",
                   "/** header written by the analyzer **/\n"
                   "FormatVersion=1.0\n\n[Common]\nenabled=1\n"
                   "type_schedule=2\ndays_week=31\nhour=3\nmin=30\nsec=0\n",
                   &schedule));
  EXPECT_EQ(schedule.id, "Nightly");
  EXPECT_EQ(schedule.enabled, 1);
  EXPECT_EQ(schedule.type_schedule, 2);
  EXPECT_EQ(schedule.days_week, 31);
  EXPECT_EQ(schedule.hour, 3);
  EXPECT_EQ(schedule.min, 30);
  EXPECT_EQ(schedule.sec, 0);
  EXPECT_FALSE(schedule.fired);
  EXPECT_EQ(LogBodies(LogHeader::kDropped).back(), "Load settings - OK");
}

struct IntegerKey {
  const char* key;
  int32_t ScheduleDefinition::*field;
};

// Every key lands in its own field: each gets a value no other key has.
// The analyzer's keys are read and let go.
TEST_F(ScheduleFileTest, EveryKeyFillsItsField) {
  const IntegerKey keys[] = {
      {"enabled", &ScheduleDefinition::enabled},
      {"type_schedule", &ScheduleDefinition::type_schedule},
      {"day", &ScheduleDefinition::day},
      {"month", &ScheduleDefinition::month},
      {"year", &ScheduleDefinition::year},
      {"hour", &ScheduleDefinition::hour},
      {"min", &ScheduleDefinition::min},
      {"sec", &ScheduleDefinition::sec},
      {"nday_week", &ScheduleDefinition::nday_week},
      {"days_week", &ScheduleDefinition::days_week},
  };
  std::string content =
      "FormatVersion=1\n[Common]\nname=\"Daily \\\"web\\\" report\"\n"
      "PROFILE=\"C:\\\\Logs\\\\site\"\ntype_action=1\ntype_period=2\nconfirm_period=3\n"
      "comparison=4\ncompar_tp=5\ncompar_fld=6\ndt_from=7\ndt_to=8\ncompr_from=9\ncompr_to=10\n";
  for (size_t i = 0; i < std::size(keys); ++i) {
    content += std::string(keys[i].key) + "=" + std::to_string(-1000 - i) + "\n";
  }
  ScheduleDefinition schedule;
  ASSERT_TRUE(Read("Daily web.schedule", content, &schedule));
  EXPECT_EQ(schedule.id, "Daily web");
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(schedule.*keys[i].field, -1000 - static_cast<int32_t>(i))
        << keys[i].key;
  }
}

struct DefaultsCase {
  const char* name;
  const char* content;
  int32_t enabled;
};

TEST_F(ScheduleFileTest, AbsentKeysTakeTheirDefaults) {
  const DefaultsCase cases[] = {
      {"empty section", "FormatVersion=1.0\n[Common]\n", 1},
      {"no section", "FormatVersion=1.0\n", 0},
      {"enabled 0", "FormatVersion=1.0\n[Common]\nenabled=0\n", 0},
  };
  for (const DefaultsCase& test : cases) {
    ScheduleDefinition schedule;
    ASSERT_TRUE(Read("s.schedule", test.content, &schedule)) << test.name;
    EXPECT_EQ(schedule.enabled, test.enabled) << test.name;
    for (int32_t value :
         {schedule.type_schedule, schedule.day, schedule.month, schedule.year,
          schedule.hour, schedule.min, schedule.sec, schedule.nday_week,
          schedule.days_week}) {
      EXPECT_EQ(value, 0) << test.name;
    }
  }
}

// Reading starts from a fresh record: nothing of an earlier one survives.
TEST_F(ScheduleFileTest, StartsFromAFreshRecord) {
  ScheduleDefinition schedule;
  schedule.file_name = "old";
  schedule.enabled = 1;
  schedule.hour = 7;
  schedule.fired = true;
  schedule.process = 42;
  ASSERT_TRUE(Read("a.schedule", "FormatVersion=1.0\n", &schedule));
  EXPECT_EQ(schedule.file_name, "a.schedule");
  EXPECT_EQ(schedule.enabled, 0);
  EXPECT_EQ(schedule.hour, 0);
  EXPECT_FALSE(schedule.fired);
  EXPECT_EQ(schedule.process, 0);
}

TEST_F(ScheduleFileTest, IdIsTheNameUpToItsFirstDot) {
  const char* const content = "FormatVersion=1.0\n[Common]\n";
  const std::pair<const char*, const char*> cases[] = {
      {"a.b.schedule", "a"},
      {"a.schedule", "a"},
      {"Daily web.schedule", "Daily web"},
      {"site.old.schedule", "site"},
      {".schedule", ""},
  };
  for (const auto& [file_name, id] : cases) {
    ScheduleDefinition schedule;
    ASSERT_TRUE(Read(file_name, content, &schedule)) << file_name;
    EXPECT_EQ(schedule.id, id) << file_name;
  }
}

struct FailureCase {
  const char* name;
  const char* content;
  const char* reader_line;  // the settings reader's own last line
};

// The reader explains first, then the schedule's own line follows.
TEST_F(ScheduleFileTest, UnusableFilesFailWithTheirLines) {
  const FailureCase cases[] = {
      {"wrong version", "FormatVersion=2.0\n[Common]\nenabled=1\n",
       "Bad version project file"},
      {"unknown key", "FormatVersion=1.0\n[Common]\nenabled=1\nfoo=1\n",
       " Project error, string=foo=1"},
      {"key in type_schedule's slot", "FormatVersion=1.0\n[Common]\ntype_sceszjni=1\n",
       " Project error, string=type_sceszjni=1"},
      {"unknown section", "FormatVersion=1.0\n[Other]\nenabled=1\n",
       "Load settings '"},
      {"unknown header inside Common",
       "FormatVersion=1.0\n[Common]\nenabled=1\n[Other]\n",
       " Project error, string=[Other]"},
      {"text for a number", "FormatVersion=1.0\n[Common]\nhour=\"3\"\n",
       "Load settings '"},
      {"text for a number not kept", "FormatVersion=1.0\n[Common]\ndt_from=\"3\"\n",
       "Load settings '"},
      {"something before the version", "enabled=1\nFormatVersion=1.0\n",
       "Load settings '"},
      {"empty file", "", "Load settings '"},
  };
  for (const FailureCase& test : cases) {
    testing::InitContextAt(context_dir_.path().string());
    ScheduleDefinition schedule;
    schedule.file_name = "kept";
    EXPECT_FALSE(Read("bad.schedule", test.content, &schedule)) << test.name;
    EXPECT_EQ(schedule.file_name, "kept") << test.name;
    const std::vector<std::string> lines = LogBodies(LogHeader::kDropped);
    ASSERT_GE(lines.size(), 2u) << test.name;
    EXPECT_EQ(lines.back(), "Error read schedule settings") << test.name;
    EXPECT_EQ(lines[lines.size() - 2].rfind(test.reader_line, 0), 0u)
        << test.name << ": " << lines[lines.size() - 2];
  }
}

TEST_F(ScheduleFileTest, MissingFileFails) {
  ScheduleDefinition schedule;
  EXPECT_FALSE(ReadScheduleFile(files_.Held(), "gone.schedule",
                                &schedule));
  const std::vector<std::string> lines = LogBodies(LogHeader::kDropped);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "Error read schedule settings");
  EXPECT_NE(lines[lines.size() - 2].find("gone.schedule"), std::string::npos);
}

}  // namespace
}  // namespace corvana
