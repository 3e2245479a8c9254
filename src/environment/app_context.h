// The process-wide application context: product names, the folders the
// scheduler works in, the current local date and time, the logging switch.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "calendar/packed_time.h"
#include "platform/fs.h"

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
  // HomePath (or the current directory it falls back to) held open for the
  // run: the log and the probe are opened relative to it.
  platform::HeldFolder home_folder;
  // Why the data folder was not trusted, for the fallback's log; empty when
  // it was, or when it merely could not be written.
  std::string home_refusal;
  // The data folder that was not used, and why, for the administrators'
  // event; empty when it was used or there was none to try.
  std::string home_rejected;
  std::string home_rejected_reason;
  std::string program_folder;  // nothing fills it; the fallback for HomePath
  std::string common_appdata_folder;
  std::string temp_folder;
  std::string user_product_folder;
  std::atomic<bool> logging_enabled{false};
};

// Null until a context has been created.
AppContext* GetAppContext();

// Reads the clock seam and stores the local date and time into the
// application context. Returns the seconds since midnight it stored; 0 when
// there is no context.
uint32_t RefreshCurrentTime();
// The same, also giving the stored value, its local breakdown and the
// seconds since 1970 it was converted from, read under the same lock so that
// no other thread's refresh can tear them.
uint32_t RefreshCurrentTime(PackedDateTime* stored, platform::LocalTime* local,
                            int64_t* seconds_since_1970 = nullptr);

// Publishes a fresh context and settles its folders, HomePath after a test
// write. Logging stays off: InitAppContext (logging/start_up.h) starts it.
AppContext* CreateAppContext(const char* product_name,
                             const char* version_text);

// A context for a program that only reads the service's folder: HomePath
// as given, clock readings stored as the engine stores them; nothing is
// created or written, logging stays off, no crash reporting.
void InitReadOnlyAppContext(const char* product_name, const char* version_text,
                            const std::string& home_path);

// The folder CreateAppContext makes HomePath when its test write succeeds:
// the common data folder, the product's name and the separator; empty when
// the shell names none. Creates and writes nothing.
std::string CommonHomePath(const char* product_name);

// Where the shell folders come from. Tests point them at folders of their
// own; nullptr puts the platform's queries back.
using FolderQuery = std::string (*)();
void SetFolderQueries(FolderQuery common_appdata, FolderQuery user_appdata);

}  // namespace corvana
