#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "settings/settings_document.h"
#include "settings_test_support.h"
#include "support/fixtures.h"
#include "support/settings_writer.h"

namespace corvana {
namespace {
using settings_test::BuildTestDocument;
using settings_test::Sentinel;
using settings_test::TestRecord;

// ---- binding keys to fields ------------------------------------------------

struct OtherRecord {
  std::string text;
  int32_t number = 0;
};

template <class Record, class Tag, class Field>
concept Bindable = requires(SettingsSection<Record>& section, Tag tag,
                            Field Record::*field) {
  AddEntry(section, tag, "key", field);
};

static_assert(Bindable<TestRecord, TextTag, std::string>);
static_assert(Bindable<TestRecord, IntTag, int32_t>);
static_assert(Bindable<TestRecord, LongTag, int32_t>);
static_assert(!Bindable<TestRecord, TextTag, int32_t>);
static_assert(!Bindable<TestRecord, IntTag, std::string>);
static_assert(!Bindable<TestRecord, LongTag, std::string>);
static_assert(!Bindable<TestRecord, IntTag, int64_t>);
static_assert(!Bindable<TestRecord, IntTag, uint32_t>);

template <class Tag, class Field>
concept BindableFromOtherRecord = requires(SettingsSection<TestRecord>& section,
                                           Tag tag, Field OtherRecord::*field) {
  AddEntry(section, tag, "key", field);
};
static_assert(!BindableFromOtherRecord<TextTag, std::string>);
static_assert(!BindableFromOtherRecord<IntTag, int32_t>);

TEST(SettingsDocumentTest, SectionsKeepTheirAddressesAsMoreAreAdded) {
  SettingsDocument<OtherRecord> document("Other Settings", 1.0);
  auto& first = AddSection(document, "First");
  for (int i = 0; i < 100; ++i) AddSection(document, "S" + std::to_string(i));
  AddEntry(first, kInt, "number", &OtherRecord::number);
  auto& last = AddSection(document, "Last");
  AddEntry(last, kText, "text", &OtherRecord::text);

  ASSERT_EQ(document.sections_.size(), 102u);
  EXPECT_EQ(document.sections_.front().get(), &first);
  const std::string text =
      "FormatVersion=1\n[first]\nnumber=4\n[LAST]\ntext=\"t\"\n";
  OtherRecord record;
  ASSERT_TRUE(ParseSettings(document, &record, text.data(), text.size()));
  EXPECT_EQ(record.number, 4);
  EXPECT_EQ(record.text, "t");
}

TEST(SettingsDocumentTest, KeyDeclaredTwiceReachesItsFirstEntryOnly) {
  struct Twice {
    int32_t first = 0;
    int32_t second = 0;
    int32_t other = 0;
  };
  SettingsDocument<Twice> document("Twice", 1.0);
  auto& section = AddSection(document, "S");
  AddEntry(section, kInt, "other", &Twice::other);
  AddEntry(section, kInt, "key", &Twice::first, 1);
  AddEntry(section, kInt, "KEY", &Twice::second, 2);
  // A search starting after the last key found would meet the second
  // "key" entry before the first.
  const std::string text = "FormatVersion=1\n[S]\nkey=7\nkey=8\nother=3\n";
  Twice record;
  ASSERT_TRUE(ParseSettings(document, &record, text.data(), text.size()));
  EXPECT_EQ(record.first, 8);
  EXPECT_EQ(record.second, 2) << "never seen, so its default";
  EXPECT_EQ(record.other, 3);
}

TEST(SettingsDocumentTest, NewDocumentAcceptsVersionOne) {
  SettingsDocument<OtherRecord> document;
  EXPECT_EQ(document.title_, "");
  EXPECT_EQ(document.format_version_, 1.0);
  EXPECT_TRUE(document.sections_.empty());
  SettingsDocument<OtherRecord> version_two("Two", 2.0);
  const std::string text = "FormatVersion=2";
  OtherRecord record;
  EXPECT_TRUE(ParseSettings(version_two, &record, text.data(), text.size()));
  EXPECT_FALSE(ParseSettings(document, &record, text.data(), text.size()));
}

// ---- written and read back -------------------------------------------------

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override { BuildTestDocument(&document_); }
  SettingsDocument<TestRecord> document_{"Test Settings", 1.0};
};

TEST_F(RoundTripTest, GivesTheRecordBack) {
  std::vector<TestRecord> records;
  TestRecord all_defaults;
  all_defaults.enabled = 1;
  all_defaults.type_period = 11;
  records.push_back(all_defaults);
  TestRecord extremes;
  extremes.enabled = 0;
  extremes.hour = INT32_MIN;
  extremes.type_period = INT32_MAX;
  extremes.dt_from = -1;
  extremes.count = 1;
  records.push_back(extremes);
  const std::vector<std::string> texts = {
      "\"",
      "\\",
      "\\\"",
      "*/",
      "/*",
      "//",
      "[Common]",
      "a=b",
      "\n\r\t",
      "caf\xe9",
      std::string("nul\0byte", 8),
      "\x1a",
      "\xef\xbb\xbf",
      std::string(5000, 'x'),
  };
  for (const std::string& text : texts) {
    TestRecord record = all_defaults;
    record.name = text;
    record.profile = text + text;
    records.push_back(record);
  }
  for (const TestRecord& record : records) {
    const std::string written = WriteSettings(document_, record, "Corvana");
    TestRecord read = Sentinel();
    ASSERT_TRUE(ParseSettings(document_, &read, written.data(), written.size()))
        << written;
    EXPECT_EQ(read, record) << written;
  }
}

TEST_F(RoundTripTest, ThroughAFile) {
  testing::TempDir dir;
  testing::InitContextAt(dir.path().string());
  TestRecord record;
  record.name = "Nightly \"full\" run";
  record.profile = R"(C:\Logs\web)";
  record.enabled = 0;
  record.hour = 3;
  record.type_period = 11;
  record.dt_from = 20260101;
  dir.Write("n.schedule", WriteSettings(document_, record, "Corvana"));
  TestRecord read = Sentinel();
  ASSERT_TRUE(
      LoadSettings(document_, &read, dir.Held(), "n.schedule", 0));
  EXPECT_EQ(read, record);
}

}  // namespace
}  // namespace corvana
