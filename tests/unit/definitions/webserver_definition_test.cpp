#include "definitions/webserver_definition.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/env.h"
#include "support/fixtures.h"

namespace corvana {
namespace {
using testing::LogBodies;
using testing::LogHeader;

class WebServerFileTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::InitContextAt(context_dir_.path().string()); }

  bool Read(const std::string& file_name, const std::string& content,
            WebServerDefinition* record) {
    files_.Write(file_name, content);
    return ReadWebServerFile(files_.Held(), file_name.c_str(), record);
  }

  testing::TempDir context_dir_;
  testing::TempDir files_;
};

TEST_F(WebServerFileTest, ReadsTheExampleFile) {
  WebServerDefinition web_server;
  ASSERT_TRUE(Read("Reports.webserver",
                   "FormatVersion=1.0\n\n[Common]\nenabled=1\n"
                   "type_schedule=0\ntype_interval=1\ninterval=6\n",
                   &web_server));
  EXPECT_EQ(web_server.id, "Reports");
  EXPECT_EQ(web_server.enabled, 1);
  EXPECT_EQ(web_server.type_schedule, 0);
  EXPECT_EQ(web_server.type_interval, 1);
  EXPECT_EQ(web_server.interval, 6);
}

struct IntegerKey {
  const char* key;
  int32_t WebServerDefinition::*field;
};

// name, profile, folder, dinamic and port are read and let go.
TEST_F(WebServerFileTest, EveryKeyFillsItsField) {
  const IntegerKey keys[] = {
      {"enabled", &WebServerDefinition::enabled},
      {"type_schedule", &WebServerDefinition::type_schedule},
      {"day", &WebServerDefinition::day},
      {"month", &WebServerDefinition::month},
      {"year", &WebServerDefinition::year},
      {"hour", &WebServerDefinition::hour},
      {"min", &WebServerDefinition::min},
      {"sec", &WebServerDefinition::sec},
      {"nday_week", &WebServerDefinition::nday_week},
      {"days_week", &WebServerDefinition::days_week},
      {"type_interval", &WebServerDefinition::type_interval},
      {"interval", &WebServerDefinition::interval},
  };
  std::string content =
      "FormatVersion=1.0\n[COMMON]\nname=\"Site\"\nprofile=\"p\\\\1\"\n"
      "folder=\"C:\\\\www\"\ndinamic=1\nport=81\n";
  for (size_t i = 0; i < std::size(keys); ++i) {
    content += std::string(keys[i].key) + "=" + std::to_string(500 + i) + "\n";
  }
  WebServerDefinition web_server;
  ASSERT_TRUE(Read("Site.webserver", content, &web_server));
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(web_server.*keys[i].field, 500 + static_cast<int32_t>(i))
        << keys[i].key;
  }
}

struct DefaultsCase {
  const char* name;
  const char* content;
  int32_t enabled;
  int32_t interval;
};

// A fresh record holds enabled 1 and interval 30; a section without a key
// gives that key's own default.
TEST_F(WebServerFileTest, AbsentKeysAndSections) {
  const DefaultsCase cases[] = {
      {"no section", "FormatVersion=1.0\n", 1, 30},
      {"empty section", "FormatVersion=1.0\n[Common]\n", 1, 0},
      {"no enabled", "FormatVersion=1.0\n[Common]\ninterval=15\n", 1, 15},
      {"disabled", "FormatVersion=1.0\n[Common]\nenabled=0\nport=81\n", 0, 0},
  };
  for (const DefaultsCase& test : cases) {
    WebServerDefinition web_server;
    ASSERT_TRUE(Read("w.webserver", test.content, &web_server)) << test.name;
    EXPECT_EQ(web_server.enabled, test.enabled) << test.name;
    EXPECT_EQ(web_server.interval, test.interval) << test.name;
    EXPECT_EQ(web_server.type_schedule, 0) << test.name;
  }
}

TEST_F(WebServerFileTest, IdIsTheFileNameUpToItsFirstDot) {
  const char* const content = "FormatVersion=1.0\n[Common]\n";
  WebServerDefinition web_server;
  ASSERT_TRUE(Read("Reports.old.webserver", content, &web_server));
  EXPECT_EQ(web_server.id, "Reports");

  // A dot in a folder's name is not the name's first dot.
  const std::filesystem::path folder = files_.path() / "site.d";
  std::filesystem::create_directory(folder);
  testing::WriteFile(folder / "Main.webserver", content);
  ASSERT_TRUE(ReadWebServerFile(
      *testing::Hold(folder.string() + platform::kPathSeparator), "Main.webserver",
      &web_server));
  EXPECT_EQ(web_server.id, "Main");
}

#ifndef _WIN32
// On POSIX a backslash may stand in a file's name: it is part of the name,
// as for a schedule's id, and the id is cut only at the name's first dot.
TEST_F(WebServerFileTest, IdIsCutOnlyAtThePlatformsSeparator) {
  WebServerDefinition web_server;
  ASSERT_TRUE(Read("C:\\Data.1\\Reports.old.webserver",
                   "FormatVersion=1.0\n[Common]\n", &web_server));
  EXPECT_EQ(web_server.id, "C:\\Data");
}
#endif

// Reading starts from a fresh record, so that a loaded record never claims
// an earlier one's child; a failed read leaves the caller's record whole.
TEST_F(WebServerFileTest, StartsFromAFreshRecordAndKeepsItOnFailure) {
  const struct {
    const char* content;
    bool loads;
  } cases[] = {{"FormatVersion=1.0\n[Common]\nhour=4\n", true},
               {"FormatVersion=2\n[Common]\nhour=4\n", false}};
  for (const auto& test : cases) {
    WebServerDefinition web_server;
    web_server.file_name = "old";
    web_server.fired = true;
    web_server.last_update = {PackDate(2026, 5, 5), 60};
    web_server.process = 7;
    ASSERT_EQ(Read("w.webserver", test.content, &web_server), test.loads);
    EXPECT_EQ(web_server.hour, test.loads ? 4 : 0) << test.content;
    EXPECT_EQ(web_server.file_name, test.loads ? "w.webserver" : "old") << test.content;
    EXPECT_EQ(web_server.fired, !test.loads) << test.content;
    EXPECT_EQ(web_server.last_update.date, test.loads ? 0 : PackDate(2026, 5, 5))
        << test.content;
    EXPECT_EQ(web_server.process, test.loads ? 0 : 7) << test.content;
  }
}

struct FailureCase {
  const char* name;
  const char* content;
  const char* reader_line;
};

TEST_F(WebServerFileTest, UnusableFilesFailWithTheirLines) {
  const FailureCase cases[] = {
      {"wrong version", "FormatVersion=2\n[Common]\n",
       "Bad version project file"},
      {"unknown key", "FormatVersion=1.0\n[Common]\nfoo=1\n",
       " Project error, string=foo=1"},
      {"a schedule key", "FormatVersion=1.0\n[Common]\ntype_period=11\n",
       " Project error, string=type_period=11"},
      {"number for a text", "FormatVersion=1.0\n[Common]\nname=5\n",
       "Load settings '"},
      {"empty file", "", "Load settings '"},
  };
  for (const FailureCase& test : cases) {
    testing::InitContextAt(context_dir_.path().string());
    WebServerDefinition web_server;
    EXPECT_FALSE(Read("bad.webserver", test.content, &web_server))
        << test.name;
    EXPECT_EQ(web_server.id, "") << test.name;
    const std::vector<std::string> lines = LogBodies(LogHeader::kDropped);
    ASSERT_GE(lines.size(), 2u) << test.name;
    EXPECT_EQ(lines.back(), "Error read webserver settings") << test.name;
    EXPECT_EQ(lines[lines.size() - 2].rfind(test.reader_line, 0), 0u)
        << test.name << ": " << lines[lines.size() - 2];
  }
}

TEST_F(WebServerFileTest, MissingFileFails) {
  WebServerDefinition web_server;
  EXPECT_FALSE(
      ReadWebServerFile(files_.Held(), "gone.webserver", &web_server));
  const std::vector<std::string> lines = LogBodies(LogHeader::kDropped);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "Error read webserver settings");
  EXPECT_NE(lines[lines.size() - 2].find("gone.webserver"), std::string::npos);
}

}  // namespace
}  // namespace corvana
