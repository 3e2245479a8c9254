#include "logging/crash_reporting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "environment/app_context.h"
#include "helpers/crashrpt_standin.h"
#include "logging/log.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/library.h"
#include "platform/process.h"
#include "platform/seams.h"
#include "service/start_up.h"
#include "support/child_modes.h"
#include "support/fixtures.h"
#include "support/waiting.h"

namespace corvana {
namespace {
namespace fs = std::filesystem;
using testing::StandInRecord;
using testing::TempDir;

constexpr char kHeader[] = "#Software: Corvana 3.3 (build 0383).";
constexpr char kPlantedVariable[] = "CORVANA_PLANTED_CRASH_LIBRARY";
constexpr char kChildMode[] = "crash-loads-only-from-its-own-folder";
// The child's report goes here rather than into the suite's own output,
// where its summary lines would count as results of this suite.
constexpr char kChildOutputName[] = "child-output.txt";

std::string OwnFolder() {
  const std::string self = testing::SelfPath();
  return self.substr(0, self.find_last_of(platform::kPathSeparator) + 1);
}

// The build puts each stand-in into a folder of its own below ours.
std::string HelperFolder(const char* name) {
  const char sep = platform::kPathSeparator;
  return OwnFolder() + "helpers" + sep + name + sep;
}

std::string StandInPath() {
  return HelperFolder("crashrpt") + CrashLibraryFileName();
}

int Install(const std::string& library_folder = HelperFolder("crashrpt")) {
  return InstallCrashReporting(library_folder, kProductName, kVersionText,
                               kPrivacyPolicyUrl);
}

// Indented, so that the child's summary lines are not taken for ours.
std::string ChildReport(const std::string& output) {
  std::istringstream lines(output);
  std::string report = "the child's report:\n";
  std::string line;
  while (std::getline(lines, line)) report += "  child| " + line + "\n";
  return report;
}

// The stand-in as loaded by the scheduler: opening the same full path again
// gives the very same copy, whose control functions the tests then call.
class CrashReportingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    ASSERT_TRUE(platform::OpenLibrary(StandInPath(), &standin_))
        << standin_.error;
    reset_ = Find<testing::StandInResetFunction>("StandInReset");
    get_record_ = Find<testing::StandInGetRecordFunction>("StandInGetRecord");
    crash_ = Find<testing::StandInCrashFunction>("StandInCrash");
    ASSERT_TRUE(reset_ && get_record_ && crash_) << standin_.error;
    reset_(0);
  }
  void TearDown() override {
    if (reset_) reset_(0);
  }

  template <typename Function>
  Function Find(const char* name) {
    return reinterpret_cast<Function>(
        platform::FindLibrarySymbol(&standin_, name));
  }
  const StandInRecord& Recorded() const { return *get_record_(); }

  TempDir dir_;
  platform::Library standin_;
  testing::StandInResetFunction reset_ = nullptr;
  testing::StandInGetRecordFunction get_record_ = nullptr;
  testing::StandInCrashFunction crash_ = nullptr;
};

TEST_F(CrashReportingTest, InstallHandsTheLibraryTheFilledRecord) {
  EXPECT_EQ(Install(), 1);
  const StandInRecord& record = Recorded();
  ASSERT_EQ(record.install_calls, 1);
  const CrashInstallInfo& info = record.info;
  EXPECT_EQ(info.cb, sizeof(CrashInstallInfo));
  EXPECT_STREQ(record.app_name, "Corvana");
  EXPECT_STREQ(record.app_version, "3.3 (build 0383)");
  EXPECT_STREQ(record.email_subject, "Crash Report");
  EXPECT_STREQ(record.privacy_policy_url, kPrivacyPolicyUrl);
  EXPECT_NE(std::string(record.email_to).find("@example."), std::string::npos)
      << record.email_to;
  EXPECT_EQ(std::string(record.url).rfind("https://www.example.", 0), 0u)
      << record.url;
  EXPECT_NE(info.pfnCrashCallback, nullptr);
  const std::vector<uint32_t> priorities(info.uPriorities,
                                         info.uPriorities + 5);
  EXPECT_EQ(priorities, (std::vector<uint32_t>{3, 2, 1, 0, 0}));
  EXPECT_EQ(info.dwFlags, 0u);
  // Everything the scheduler does not set stays zero: library defaults.
  for (const char* unset :
       {info.pszCrashSenderPath, info.pszDebugHelpDLL,
        info.pszErrorReportSaveDir, info.pszRestartCmdLine,
        info.pszLangFilePath, info.pszEmailText, info.pszSmtpProxy,
        info.pszCustomSenderIcon, info.pszSmtpLogin, info.pszSmtpPassword}) {
    EXPECT_EQ(unset, nullptr);
  }
  EXPECT_EQ(info.uMiniDumpType, 0u);
  EXPECT_EQ(info.nRestartTimeout, 0);
  // Logging is on here, unlike during context initialisation.
  EXPECT_EQ(testing::LogLines().back(), "Crash Report init - OK");
}

TEST_F(CrashReportingTest, FailedInstallStillReturnsOneAndLogsTheReason) {
  reset_(1);
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(Recorded().install_calls, 1);
  const std::vector<std::string> lines = testing::LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Crash Report init error");
  EXPECT_EQ(lines.back(), testing::kStandInRefusal);
  EXPECT_EQ(crash_(), -1) << "a refused install registers no callback";
}

TEST_F(CrashReportingTest, CrashAppendsTheFolderBlockAndAttachesTheLog) {
  AppContext* context = GetAppContext();
  context->temp_folder =
      "temp-folder" + std::string(1, platform::kPathSeparator);
  ASSERT_FALSE(context->HomePath.empty());
  ASSERT_NE(context->HomePath, context->common_appdata_folder);
  ASSERT_EQ(Install(), 1);
  WriteLog("before the crash");

  EXPECT_EQ(crash_(), 1);

  const std::vector<std::string> expected_tail = {
      "before the crash",
      "***Crash!",
      "Sys Info: =====================================",
      "TEMP=" + context->temp_folder,
      "Program=",
      "User AppData=" + context->HomePath,
      "All Users AppData=" + context->common_appdata_folder,
      "===============================================",
  };
  const std::vector<std::string> lines = testing::LogLines();
  ASSERT_GE(lines.size(), expected_tail.size());
  EXPECT_EQ(
      std::vector<std::string>(lines.end() - expected_tail.size(), lines.end()),
      expected_tail);
  const StandInRecord& record = Recorded();
  EXPECT_EQ(record.add_file_calls, 1);
  EXPECT_EQ(record.added_file, LogFilePath());
  EXPECT_STREQ(record.added_dest_name, "scheduler.###");
  EXPECT_STREQ(record.added_description, "Processing Log File");
  EXPECT_EQ(record.added_flags, 0u);
}

TEST_F(CrashReportingTest, CrashWithLoggingOffStillWritesTheFolderBlock) {
  ASSERT_EQ(Install(), 1);
  AppContext* context = GetAppContext();
  context->logging_enabled.store(false);
  const size_t before = testing::LogLines().size();

  EXPECT_EQ(crash_(), 1);
  context->logging_enabled.store(true);

  // "***Crash!" goes through the switch; the block goes straight to the file.
  const std::vector<std::string> lines = testing::LogLines();
  ASSERT_EQ(lines.size(), before + 6);
  EXPECT_EQ(lines[before], "Sys Info: =====================================");
  EXPECT_EQ(lines[before + 2], "Program=");
  EXPECT_EQ(Recorded().add_file_calls, 1);
}

// Holds the thread that reports, here one in a log entry, until released.
struct HoldingReporter final : platform::EventReporter {
  bool Report(platform::EventLevel, uint32_t, const std::vector<std::string>&,
              const std::string&) override {
    entered.set_value();
    released.wait();
    return true;
  }
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
};

// A crash must not wait for another thread's log entry, which may never end.
TEST_F(CrashReportingTest, CrashDoesNotWaitForAnotherThreadsEntry) {
  ASSERT_EQ(Install(), 1);
  fs::rename(LogFilePath(), LogFilePath() + ".old");
  fs::create_directory(LogFilePath());  // so the start reports, lock held
  HoldingReporter reporter;
  testing::ScopedSeams seams;
  platform::SetEventReporter(&reporter);
  std::thread entry(StartLogFile);
  reporter.entered.get_future().wait();
  auto crash = std::async(std::launch::async, [this] { return crash_(); });
  EXPECT_EQ(crash.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the crash handler waited for the log lock";
  reporter.release.set_value();
  entry.join();
  EXPECT_EQ(crash.get(), 1);
}

// Every way of not finding a usable library ends the same: result 0, no
// call into anything, the scheduler goes on. Only a library that loads but
// lacks the entry points is worth a word (dropped while initialising).
TEST_F(CrashReportingTest, UnusableLibraryMeansNoCrashReporting) {
  TempDir empty;
  TempDir garbage;
  garbage.Write(CrashLibraryFileName(), "not a library at all");
  struct Case {
    const char* name;
    std::string folder;
    bool logs_the_failed_lookup;
  };
  const std::vector<Case> cases = {
      {"beside the executable, where it is absent", platform::ExecutableFolder(), false},
      {"empty folder", empty.WithSeparator(), false},
      {"garbage under the library's name", garbage.WithSeparator(), false},
      {"library without the entry points", HelperFolder("no-entry-points"),
       true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    testing::InitContextAt(dir_.path().string());
    EXPECT_EQ(Install(test.folder), 0);
    const std::vector<std::string> lines = testing::LogLines();
    ASSERT_EQ(lines.size(), test.logs_the_failed_lookup ? 3u : 1u);
    EXPECT_EQ(lines[0], kHeader);
    if (test.logs_the_failed_lookup) {
      EXPECT_EQ(lines[1], "Crash Report init error");
      // The operating system's lookup call, named with its own error.
      EXPECT_NE(lines[2].find(" failed"), std::string::npos) << lines[2];
    }
    EXPECT_EQ(Recorded().install_calls, 0);
  }
}

TEST(CrashReportingInitTest, WithoutTheLibraryInitialisationCompletes) {
  TempDir dir;
  testing::InitContextAt(dir.path().string());
  ASSERT_TRUE(GetAppContext()->logging_enabled.load());
  WriteLog("a later entry");
  EXPECT_EQ(testing::LogLines(),
            (std::vector<std::string>{kHeader, "a later entry"}));
}

TEST(CrashReportingInitTest, RelativePathsAreNotLoaded) {
  platform::Library library;
  EXPECT_FALSE(platform::OpenLibrary(CrashLibraryFileName(), &library));
  EXPECT_NE(library.error.find("failed"), std::string::npos) << library.error;
  EXPECT_EQ(platform::FindLibrarySymbol(&library, "crInstallA"), nullptr);
}

// A copy of the stand-in in the current directory and on the loader's search
// path of a fresh process (the loader reads LD_LIBRARY_PATH only at start)
// must not be picked up by an install that looks beside the executable.
TEST(CrashReportingPlantedTest, LibraryOutsideOwnFolderIsNotLoaded) {
  TempDir planted;
  fs::copy_file(StandInPath(), planted.path() / CrashLibraryFileName());
  const fs::path trace = planted.path() / "trace.txt";
  platform::ProcessHandle child = 0;
  {
    testing::ScopedEnvVar trace_variable(testing::kStandInTraceVariable,
                                  trace.string());
    testing::ScopedEnvVar planted_variable(kPlantedVariable, planted.WithSeparator());
#ifdef _WIN32
    testing::ScopedEnvVar search_path(
        "PATH",
        planted.path().string() + ";" + platform::GetEnv("PATH").value_or(""));
#else
    testing::ScopedEnvVar search_path("LD_LIBRARY_PATH", planted.path().string());
#endif
    platform::ProcessStart start;
    start.application = testing::SelfPath();
    start.command_line = start.application + " --child " + kChildMode;
    start.working_folder = planted.path().string();
    child = platform::StartProcess(start).process;
  }
  ASSERT_NE(child, 0);
  const uint32_t exit_code = testing::WaitForExit(child);
  platform::ReleaseProcess(child);
  EXPECT_EQ(exit_code, 0u) << ChildReport(
      testing::ReadFile(planted.path() / kChildOutputName));
  // One install only: the child's deliberate one from the planted folder.
  EXPECT_EQ(testing::ReadFile(trace), "crInstallA\n");
}

// Runs only as the child of the test above, which plants the library: the
// process's first initialisation installs from beside the executable, the
// planted copy only when asked for by its full path, which proves that the
// trace of nothing else loading it is real. Each failed step says which.
int ChildFailure(const char* step) {
  std::printf("%s\n", step);
  return 1;
}

int LoadsOnlyFromItsOwnFolder(int, char**) {
  const auto planted = platform::GetEnv(kPlantedVariable);
  if (!planted.has_value() ||
      std::freopen((*planted + kChildOutputName).c_str(), "w", stdout) == nullptr) {
    return 2;
  }
  TempDir dir;
  testing::InitContextAt(dir.path().string());
  if (Install(platform::ExecutableFolder()) != 0) {
    return ChildFailure("installed from elsewhere");
  }
  const bool planted_installs = Install(*planted) == 1;
  return planted_installs ? 0 : ChildFailure("the planted copy failed by its full path");
}
const bool registered = testing::RegisterChildMode(kChildMode, &LoadsOnlyFromItsOwnFolder);

}  // namespace
}  // namespace corvana
