// Whether nginx.exe may run as the system: what the check answers, and that
// a refused nginx.exe is never started and leaves one line naming why.
#include "webserver/nginx_trust.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/nt_file.h"
#include "platform/win32/security_descriptor.h"
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "environment/app_context.h"
#include "logging/escape.h"
#include "platform/env.h"
#include "platform/process.h"
#include "platform/seams.h"
#include "support/fixtures.h"
#include "support/waiting.h"
#include "webserver/webserver_control.h"

namespace corvana {
namespace {

namespace fs = std::filesystem;
constexpr auto kService = platform::ServiceAccount::kThisProcess;

class NginxTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::InitContextAt(dir_.path().string());
    testing::PlaceTrustedNginx();
    home_ = GetAppContext()->HomePath;
    platform::SetLauncher(&launcher_);
  }
  void TearDown() override {
    ForgetHeldNginx();
    platform::SetLauncher(nullptr);
  }

  fs::path Folder() const { return fs::path(home_) / "webserver"; }
  std::string Nginx() const {
    return home_ + "webserver" + platform::kPathSeparator + "nginx.exe";
  }

  testing::TempDir dir_;
  std::string home_;
  testing::RecordingLauncher launcher_;
};

TEST_F(NginxTrustTest, AMissingNginxIsNeitherPresentNorTrusted) {
  fs::remove(Folder() / "nginx.exe");
  const NginxTrust trust = CheckNginxTrust(home_, kService);
  EXPECT_FALSE(trust.present);
  EXPECT_FALSE(trust.trusted);
  EXPECT_EQ(trust.path, Nginx());
  EXPECT_FALSE(WebServerCommand(NginxCommand::kStart));
  EXPECT_TRUE(launcher_.starts.empty());
  EXPECT_EQ(testing::LogLines().back(), "Webserver command error");
}

#ifndef _WIN32
using Prepare = std::function<void(const fs::path& home, const fs::path& folder)>;

void Mode(const fs::path& path, fs::perms perms) {
  fs::permissions(path, perms, fs::perm_options::replace);
}

constexpr fs::perms k0755 = fs::perms::owner_all | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec;

TEST_F(NginxTrustTest, OnlyAProgramNobodyElseCanChangeRuns) {
  const auto Loads = [](const std::string& entry) {
    return "would load '" + entry +
           "', which is a link or which non-administrators own or can change";
  };
  const struct {
    const char* what;
    Prepare prepare;
    std::string reason;  // empty: runs
  } cases[] = {
      {"root or own 0755", [](auto&, auto& f) { Mode(f / "nginx.exe", k0755); }, ""},
      {"group-writable file",
       [](auto&, auto& f) { Mode(f / "nginx.exe", k0755 | fs::perms::group_write); },
       "can be changed by non-administrators"},
      {"others-writable file",
       [](auto&, auto& f) { Mode(f / "nginx.exe", k0755 | fs::perms::others_write); },
       "can be changed by non-administrators"},
      {"group-writable folder",
       [](auto&, auto& f) { Mode(f, k0755 | fs::perms::group_write); },
       "can be changed by non-administrators"},
      {"home writable by all without sticky bit",
       [](auto& h, auto&) { Mode(h, fs::perms::all); },
       "can be moved away by non-administrators"},
      {"home writable by all with sticky bit",
       [](auto& h, auto&) { Mode(h, fs::perms::all | fs::perms::sticky_bit); }, ""},
      {"a folder above home writable by all without sticky bit",
       [](auto& h, auto&) { Mode(h.parent_path().parent_path(), fs::perms::all); },
       "can be moved away by non-administrators"},
      {"a folder above home writable by its group only (0775)",
       [](auto& h, auto&) { Mode(h.parent_path().parent_path(), k0755 | fs::perms::group_write); },
       "can be moved away by non-administrators"},
      {"file owned by another account",
       [](auto&, auto& f) { ASSERT_EQ(chown((f / "nginx.exe").c_str(), 65534, 0), 0); },
       "is owned by a non-administrator"},
      {"webserver is a link to a good folder",
       [](auto& h, auto& f) {
         fs::rename(f, h / "elsewhere");
         fs::create_directory_symlink(h / "elsewhere", f);
       },
       "is reached through a link"},
      {"nginx.exe is a link to a good file",
       [](auto&, auto& f) {
         fs::rename(f / "nginx.exe", f / "real.exe");
         fs::create_symlink(f / "real.exe", f / "nginx.exe");
       },
       "is reached through a link"},
      {"nginx.exe is a folder",
       [](auto&, auto& f) {
         fs::remove(f / "nginx.exe");
         fs::create_directory(f / "nginx.exe");
       },
       "is not a regular file in a folder"},
      {"trusted DLL and .local folder",
       [](auto&, auto& f) {
         testing::WriteFile(f / "zlib1.DLL", "");
         fs::create_directory(f / "nginx.exe.local");
       },
       ""},
      {"others-writable DLL with an escape in its name",
       [](auto&, auto& f) {
         testing::WriteFile(f / "x\x1b[2J.dll", "");
         Mode(f / "x\x1b[2J.dll", k0755 | fs::perms::others_write);
       },
       Loads("x\\x1b[2J.dll")},
      {"others-writable nginx.exe.manifest",
       [](auto&, auto& f) {
         testing::WriteFile(f / "nginx.exe.manifest", "");
         Mode(f / "nginx.exe.manifest", k0755 | fs::perms::others_write);
       },
       Loads("nginx.exe.manifest")},
      {"nginx.exe.config owned by another account",
       [](auto&, auto& f) {
         testing::WriteFile(f / "nginx.exe.config", "");
         ASSERT_EQ(chown((f / "nginx.exe.config").c_str(), 65534, 0), 0);
       },
       Loads("nginx.exe.config")},
      {".local is a link to a good folder",
       [](auto& h, auto& f) { fs::create_directory_symlink(h, f / "nginx.exe.local"); },
       Loads("nginx.exe.local")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    testing::InitContextAt(dir.path().string());
    testing::PlaceTrustedNginx();
    home_ = GetAppContext()->HomePath;
    c.prepare(fs::path(home_), Folder());
    launcher_.starts.clear();
    const bool started = WebServerCommand(NginxCommand::kStart);
    const auto lines = testing::LogLines();
    ASSERT_GE(lines.size(), 3u);
    const std::string reason = c.reason;
    // `reason` as the log shows it: the check gives the user's bytes.
    EXPECT_EQ(EscapeControlCharacters(CheckNginxTrust(home_, kService).reason), reason);
    if (reason.empty()) {
      EXPECT_TRUE(started);
      EXPECT_EQ(launcher_.starts.size(), 1u);
      EXPECT_EQ(lines.back(), "Webserver command successfully");
      continue;
    }
    EXPECT_FALSE(started);
    EXPECT_TRUE(launcher_.starts.empty()) << "a refused nginx.exe ran";
    EXPECT_EQ(lines[lines.size() - 2], "nginx.exe not started: " + Nginx() + " " + reason);
    EXPECT_EQ(lines.back(), "Webserver command error");
    const NginxTrust trust = CheckNginxTrust(home_, kService);
    EXPECT_TRUE(trust.present);
    EXPECT_FALSE(trust.trusted);
  }
}

// Between the check and the start, a user who can rename in a folder above
// would put a tree of their own in the checked one's place: the checked file
// itself still runs, in the checked folder.
TEST_F(NginxTrustTest, TheCheckedProgramRunsThoughItsFolderWasSwapped) {
  const auto script = [](const fs::path& path, const std::string& text) {
    testing::WriteFile(path, "#!/bin/sh\necho " + text + " >ran\n");
    Mode(path, k0755);
  };
  script(Folder() / "nginx.exe", "checked");
  platform::HeldProgram held;
  ASSERT_EQ(platform::CheckProgramTrust(home_, "webserver", "nginx.exe", kService, &held)
                .verdict,
            platform::TrustVerdict::kTrusted);
  fs::rename(Folder(), fs::path(home_) / "moved");
  fs::create_directory(Folder());
  script(Folder() / "nginx.exe", "planted");
  platform::ProcessStart start;
  start.application = Nginx();
  start.command_line = "\"" + Nginx() + "\"";
  start.working_folder = Folder().string();
  start.held = &held;
  ASSERT_FALSE(platform::StartDetachedProcess(start).failed());
  const fs::path ran = fs::path(home_) / "moved" / "ran";
  ASSERT_TRUE(testing::Eventually([&] { return testing::ReadFile(ran) == "checked\n"; }));
  EXPECT_FALSE(fs::exists(Folder() / "ran"));
}
#endif

#ifdef _WIN32
// A real descriptor, read back from the file. Wine keeps no descriptors of
// its own: it maps a DACL onto the mode bits, so a grant to Users lands in
// the group bits and is lost, while Everyone's write survives as the
// others' write bit. That one is tried here; the table below covers the
// rest of the decision.
TEST_F(NginxTrustTest, AnNginxOrDllEveryoneMayWriteIsRefused) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:(A;;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const std::pair<const char*, std::string> cases[] = {
      {"nginx.exe", "can be changed by non-administrators"},
      {"x.dll", "would load 'x.dll', which is a link or which non-administrators "
                "own or can change"}};
  for (const auto& [target, reason] : cases) {
    testing::TempDir dir;
    testing::InitContextAt(dir.path().string());
    testing::PlaceTrustedNginx();
    home_ = GetAppContext()->HomePath;
    testing::WriteFile(Folder() / "y.DLL", "");  // trusted, judged too
    testing::WriteFile(Folder() / "x.dll", "");
    std::string path = (Folder() / target).string();
    ASSERT_EQ(SetNamedSecurityInfoA(path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, dacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(WebServerCommand(NginxCommand::kStart));
    EXPECT_TRUE(launcher_.starts.empty()) << "a refused nginx.exe ran";
    const auto lines = testing::LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "nginx.exe not started: " + Nginx() + " " + reason);
    EXPECT_EQ(lines.back(), "Webserver command error");
  }
  LocalFree(descriptor);
}

// A user who opened the data folder sharing nothing before the service
// started pushes it neither out of the folder nor off nginx.
TEST_F(NginxTrustTest, AShareNothingHandleOnTheDataFolderPushesNothingOut) {
  testing::TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  fs::create_directories(dir.path() / "Corvana");
  HANDLE user = CreateFileA((dir.path() / "Corvana").string().c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(user, INVALID_HANDLE_VALUE);
  testing::InitContextAt(dir.path().string());
  testing::PlaceTrustedNginx();
  fs::current_path(previous);
  EXPECT_EQ(GetAppContext()->HomePath, (dir.path() / "Corvana").string() + "\\");
  EXPECT_TRUE(WebServerCommand(NginxCommand::kStart));
  CloseHandle(user);
}

// A handle sharing nothing, or an oplock being broken, which Wine never
// grants: a stand-in answers as Windows does (a handle, and a status saying
// so) for a name ending in `breaking`, or for an open by id if that is empty.
std::wstring breaking;
LONG NTAPI BreakingNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG file_attributes,
                                ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG ea_size) {
  static const auto system = reinterpret_cast<platform::NtCreateFileFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
  const std::wstring_view name(attributes->ObjectName->Buffer, attributes->ObjectName->Length / 2);
  const bool match = (options & FILE_OPEN_BY_FILE_ID) != 0 ? breaking.empty()
                                                           : !breaking.empty() && name.ends_with(breaking);
  const LONG status = system(handle, access, attributes, io, size, file_attributes, share,
                             disposition, options, ea, ea_size);
  return status == 0 && match ? 0x108 : status;  // STATUS_OPLOCK_BREAK_IN_PROGRESS
}

TEST_F(NginxTrustTest, AFileHeldByAnotherProgramRefusesTheStartUntilLetGo) {
  testing::WriteFile(Folder() / "x.dll", "");
  const std::pair<std::wstring, std::string> cases[] = {
      {L"sharing nothing", "is held open by another program"},
      {L"\\webserver\\nginx.exe", "is held open by another program"},
      {L"", "would load 'x.dll', which is held open by another program"}};
  for (const auto& [name, reason] : cases) {
    HANDLE user = name != L"sharing nothing" ? nullptr
                  : CreateFileA(Nginx().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    breaking = name;
    platform::SetNtCreateFile(&BreakingNtCreateFile);
    EXPECT_FALSE(WebServerCommand(NginxCommand::kStart));
    EXPECT_TRUE(NginxStartDeferred());
    const auto lines = testing::LogLines();
    EXPECT_EQ(lines[lines.size() - 2], "nginx.exe not started: " + Nginx() + " " + reason);
    platform::SetNtCreateFile(nullptr);
    if (user != nullptr) CloseHandle(user);
    EXPECT_TRUE(WebServerCommand(NginxCommand::kStart));
  }
}

// The rights decision over descriptors as an installer, a default data
// folder or an attacker would leave them.
TEST(SecurityDescriptorTest, OnlyAdministratorsMayChangeOrMoveTheProgram) {
  using platform::TrustedObject;
  using platform::TrustVerdict;
  constexpr auto kHome = TrustedObject::kHome;
  constexpr auto kFolder = TrustedObject::kFolder;
  constexpr auto kFile = TrustedObject::kFile;
  const std::string admins = "O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)";
  const std::string installer =
      "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
      "D:(A;;FA;;;SY)";
  const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";
  HANDLE token = nullptr;  // the caller's account, as `schedules` runs (left open)
  BYTE caller[256];
  DWORD size = 0;
  char* self = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, caller, sizeof caller, &size) &&
              ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(caller)->User.Sid, &self));
  const std::string callers = std::string("O:SYD:(A;;FA;;;SY)(A;;FA;;;") + self + ")";
  // A new folder's DACL below C:\ProgramData, made by `creator`.
  const auto program_data = [](const std::string& creator) {
    return "D:AI(A;ID;FA;;;" + creator +
           ")(A;OICIIOID;GA;;;CO)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)"
           "(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)";
  };
  const struct {
    std::string sddl;
    TrustedObject object;
    TrustVerdict verdict;
    platform::ServiceAccount account = platform::ServiceAccount::kThisProcess;
  } cases[] = {
      {admins + "(A;;0x1200a9;;;BU)", kFile, TrustVerdict::kTrusted},
      {admins + "(A;;0x1200a9;;;BU)", kFolder, TrustVerdict::kTrusted},
      {installer + "(A;;0x1200a9;;;WD)", kFile, TrustVerdict::kTrusted},
      {admins + "(A;OICIIO;FA;;;CO)", kFolder, TrustVerdict::kTrusted},
      {admins + "(A;;FW;;;BU)", kFile, TrustVerdict::kChangeable},
      {admins + "(A;;0x4;;;BU)", kFile, TrustVerdict::kChangeable},
      {admins + "(A;;SD;;;AU)", kFile, TrustVerdict::kChangeable},
      {admins + "(A;;WD;;;WD)", kFile, TrustVerdict::kChangeable},
      {admins + "(A;;WO;;;BU)", kFolder, TrustVerdict::kChangeable},
      {admins + "(A;;0x2;;;BU)", kFolder, TrustVerdict::kChangeable},
      {admins + "(A;;0x40;;;BU)", kFolder, TrustVerdict::kChangeable},
      {admins + "(A;;GA;;;BU)", kFolder, TrustVerdict::kChangeable},
      // Users may add files and folders to the data folder, by its design.
      {admins + "(A;CI;0x1200af;;;BU)", kHome, TrustVerdict::kTrusted},
      {admins + "(A;;0x40;;;BU)", kHome, TrustVerdict::kRemovable},
      {admins + "(A;;WD;;;BU)", kHome, TrustVerdict::kRemovable},
      // Without a DACL everyone has every right. (Wine reads
      // NO_ACCESS_CONTROL as an empty DACL, so the test leaves it out.)
      {"O:SY", kFile, TrustVerdict::kChangeable},
      {"O:SY", kHome, TrustVerdict::kRemovable},
      {"O:BUD:(A;;FA;;;SY)", kFile, TrustVerdict::kWrongOwner},
      {"O:WDD:(A;;FA;;;SY)", kHome, TrustVerdict::kWrongOwner},
      // Write-attributes alone can make the file a reparse point.
      {admins + "(A;;0x100;;;BU)", kFile, TrustVerdict::kChangeable},
      {admins + "(A;;0x10;;;BU)", kFolder, TrustVerdict::kChangeable},
      {admins + "(A;;SD;;;BU)", kHome, TrustVerdict::kRemovable},
      // Below C:\ProgramData, inheriting its DACL as accesschk -dl lists it
      // on Windows 10 (SY, BA full; CO inherit-only GA; BU read, and on
      // folders only WD, AD, WEA, WA = 0x116).
      {"O:SY" + program_data("SY"), kHome, TrustVerdict::kTrusted},
      {"O:BA" + program_data("BA"), kFolder, TrustVerdict::kChangeable},
      {"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)"
       "(A;OICI;0x1200a9;;;BU)",
       kFolder, TrustVerdict::kTrusted},
      {"O:" + user + program_data(user), kFolder, TrustVerdict::kWrongOwner},
      // An administrator took it over but kept the creator's own entry.
      {"O:BAD:PAI(A;;FA;;;" + user + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
       "(A;OICI;0x1200a9;;;BU)",
       kFolder, TrustVerdict::kChangeable},
      // An entry for the caller's own account is not the system's.
      {callers, kFile, TrustVerdict::kChangeable, platform::ServiceAccount::kSystem},
      {callers, kFolder, TrustVerdict::kChangeable, platform::ServiceAccount::kSystem},
      {callers, kHome, TrustVerdict::kRemovable, platform::ServiceAccount::kSystem},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::JudgeSecurityDescriptorText(c.sddl, c.object, c.account), c.verdict)
        << c.sddl << " as " << static_cast<int>(c.object);
  }
}
#endif

}  // namespace
}  // namespace corvana
