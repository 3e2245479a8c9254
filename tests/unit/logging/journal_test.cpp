#include "logging/journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "environment/app_context.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
using testing::TempDir;

JournalRecord RunRecord(JournalRecordType type, std::string_view id) {
  JournalRecord record;
  record.type = type;
  record.time_s = 1796700000;
  record.utc_offset_s = 3600;
  record.id = id;
  return record;
}

// Every line is JSON whatever bytes an id holds, and reads back to them.
TEST(JournalTest, LinesAreValidJsonAndReadBackToTheirBytes) {
  const std::string id = std::string("q\"b\\t\t\x01\x7f") + "\xC3\xA9" +
                         "\xE9\xFF" + "\xED\xA0\x80";
  JournalRecord start = RunRecord(JournalRecordType::kServiceStart, "");
  start.version = "3.3 (build 0383)";
  start.data_folder = "C:\\ProgramData\\Corvana\\";
  JournalRecord run = RunRecord(JournalRecordType::kRunStart, id);
  run.file = "a.b.schedule";
  run.pid = 4242;
  run.missed_s = 1796695200;
  JournalRecord failed = RunRecord(JournalRecordType::kRunEnd, "n");
  failed.exit_code = 3;
  failed.duration_s = 1;
  JournalRecord not_started = RunRecord(JournalRecordType::kRunEnd, "n");
  not_started.kind = RunKind::kWebServerUpdate;
  not_started.ending = RunEnding::kNotStarted;
  const std::string head = "{\"record\":";
  const std::string times = ",\"time_s\":1796700000,\"utc_offset_s\":3600,";
  const struct {
    const JournalRecord& record;
    std::string line;
  } cases[] = {
      {start, head + "\"service_start\"" + times +
                  "\"version\":\"3.3 (build 0383)\",\"data_folder\":"
                  "\"C:\\\\ProgramData\\\\Corvana\\\\\"}\n"},
      {run, head + "\"run_start\"" + times +
                "\"kind\":\"schedule\",\"id\":\"q\\\"b\\\\t\\u0009\\u0001\\u007f"
                "\xC3\xA9\\u00e9\\u00ff\\u00ed\\u00a0\\u0080\",\"file\":"
                "\"a.b.schedule\",\"pid\":4242,\"missed_s\":1796695200}\n"},
      {failed, head + "\"run_end\"" + times +
                   "\"kind\":\"schedule\",\"id\":\"n\",\"ended\":\"exited\","
                   "\"exit_code\":3,\"duration_s\":1}\n"},
      {not_started, head + "\"run_end\"" + times +
                        "\"kind\":\"webserver_update\",\"id\":\"n\",\"ended\":"
                        "\"not_started\",\"duration_s\":0}\n"},
  };
  JournalFields fields;  // reused, as the reader does: no field outlives its line
  for (const auto& c : cases) {
    const std::string line = FormatJournalLine(c.record);
    EXPECT_EQ(line, c.line);
    ASSERT_TRUE(ParseJournalLine(std::string_view(line).substr(0, line.size() - 1),
                                 &fields)) << line;
    EXPECT_EQ(fields.Number("time_s"), c.record.time_s);
    EXPECT_EQ(fields.Number("exit_code").has_value(), c.record.exit_code.has_value());
    if (const std::string_view* read = fields.String("id")) {
      EXPECT_EQ(*read, c.record.id);
    }
  }
}

// The journal's folder is writable by others: a line is read to the same
// fields or refused as before, wherever in the scan's eight-byte words the
// byte that ends a string's plain run falls.
TEST(JournalTest, HostileLinesAreReadOrRefusedAsBefore) {
  const struct {
    std::string line;
    std::optional<std::string> id;  // nothing: the line is refused
  } cases[] = {
      {R"({"i\u0064":"a\"b","x":"\u00e9\n", "n" : null })", "a\"b"},
      {R"({"id":"x","n":9223372036854775807,"m":-9223372036854775807})", "x"},
      {R"({"id":null,"id":"first","i\u0064":"second"})", "first"},
      {R"({"id":"x","n":9223372036854775808})", std::nullopt},
      {R"({"id":"x\q"})", std::nullopt},
      {R"({"id":"x","n":{}})", std::nullopt},
  };
  JournalFields fields;
  for (const auto& c : cases) {
    ASSERT_EQ(ParseJournalLine(c.line, &fields), c.id.has_value()) << c.line;
    if (c.id) {
      EXPECT_EQ(*fields.String("id"), *c.id) << c.line;
    }
  }
  for (size_t at = 0; at < 20; ++at) {
    const std::string plain(at, 'p');
    EXPECT_FALSE(ParseJournalLine("{\"id\":\"" + plain + "\x1f\"}", &fields)) << at;
    const std::string escaped = "{\"id\":\"" + plain + "\\\\\xC3\xA9\"}";
    ASSERT_TRUE(ParseJournalLine(escaped, &fields));  // its fields are views into it
    EXPECT_EQ(*fields.String("id"), plain + "\\\xC3\xA9") << at;
  }
}

class JournalFileTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::InitContextAt(dir_.path().string()); }
  void TearDown() override { CloseJournal(); }
  std::filesystem::path Home() const { return dir_.path() / "Corvana"; }
  std::vector<std::string> ReadIds() {
    std::vector<std::string> ids;
    ReadJournal(GetAppContext()->home_folder, JournalReader::kService,
                [&ids](const JournalFields& fields) {
      ids.emplace_back(fields.String("id") ? *fields.String("id") : "?");
    });
    return ids;
  }
  TempDir dir_;
};

// A crash tears at most the last line; a line that does not parse is
// skipped and nothing around it is lost, nor the next record written after
// it. The older generation comes first.
TEST_F(JournalFileTest, ReadingSkipsTornAndBrokenLines) {
  const auto line = [](const char* id) {
    return FormatJournalLine(RunRecord(JournalRecordType::kRunStart, id));
  };
  testing::WriteFile(Home() / kOlderJournalFileName, line("old"));
  testing::WriteFile(Home() / kJournalFileName,
                     line("a") + "not json\n" + "{\"id\":\"x\",}\r\n" +
                         line("b") + line("torn").substr(0, 40));
  WriteJournal(RunRecord(JournalRecordType::kRunStart, "after"));  // a new line
  EXPECT_EQ(ReadIds(), (std::vector<std::string>{"old", "a", "b", "after"}));
}

// At the cap the journal becomes the one older generation: the two hold the
// newest records, in order, and neither grows past the cap.
TEST_F(JournalFileTest, ACappedJournalKeepsOneOlderGeneration) {
  const std::string padding(1000, 'p');
  const int kRecords = 2500;  // some two and a half caps
  for (int i = 0; i < kRecords; ++i) {
    WriteJournal(RunRecord(JournalRecordType::kRunStart, std::to_string(i) + padding));
  }
  for (const char* name : {kJournalFileName, kOlderJournalFileName}) {
    EXPECT_LE(std::filesystem::file_size(Home() / name), kJournalCapBytes);
  }
  const std::vector<std::string> ids = ReadIds();
  ASSERT_GT(ids.size(), kJournalCapBytes / 1200);
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(ids[i], std::to_string(kRecords - ids.size() + i) + padding);
  }
}

}  // namespace
}  // namespace corvana
