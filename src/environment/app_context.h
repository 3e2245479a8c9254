// The process-wide application context: product names, the folders the
// scheduler works in, the current local date and time, the logging switch.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace corvana {

inline constexpr const char kProductName[] = "Corvana";
// From the version written once in the build, e.g. "3.3 (build 0383)".
inline constexpr const char kVersionText[] = CORVANA_VERSION_TEXT;
inline constexpr const char kPrivacyPolicyUrl[] =
    "https://www.example.com/corvana/privacy-policy";

struct AppContext {
  const char* product_name = "";
  const char* version_text = "";
  // The current local date and time, written by RefreshCurrentTime from the
  // worker thread and the control handler's thread: read them under
  // time_lock, or take the copy RefreshCurrentTime gives.
  uint8_t current_day = 0;
  uint8_t current_month = 0;
  uint16_t current_year = 0;
  uint32_t current_time = 0;
  std::mutex time_lock;
  // Per-machine data folder, ending with the path separator, or empty.
  std::string HomePath;
  std::string program_folder;  // nothing fills it; the fallback for HomePath
  std::string common_appdata_folder;
  std::string temp_folder;
  std::string user_product_folder;
  std::atomic<bool> logging_enabled{false};
};

// Null until InitAppContext has run.
AppContext* GetAppContext();

// Creates the context, settles HomePath after a test write, starts the log
// file, installs crash reporting once per process and switches logging on.
void InitAppContext(const char* product_name, const char* version_text,
                    const char* privacy_policy_url);

// A context for a program that only reads the service's folder: HomePath
// as given, clock readings stored as the engine stores them; nothing is
// created or written, logging stays off, no crash reporting.
void InitReadOnlyAppContext(const char* product_name, const char* version_text,
                            const std::string& home_path);

// The folder InitAppContext makes HomePath when its test write succeeds:
// the common data folder, the product's name and the separator; empty when
// the shell names none. Creates and writes nothing.
std::string CommonHomePath(const char* product_name);

// Where the shell folders come from. Tests point them at folders of their
// own; nullptr puts the platform's queries back.
using FolderQuery = std::string (*)();
void SetFolderQueries(FolderQuery common_appdata, FolderQuery user_appdata);

// The once-per-process crash-reporting flag.
bool CrashReportingInstalled();

}  // namespace corvana
