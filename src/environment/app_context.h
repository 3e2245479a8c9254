// The process-wide application context: product names, the folders the
// scheduler works in, the logging switch.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/fs.h"
#include "platform/trust.h"

namespace corvana {

inline constexpr const char kProductName[] = "Corvana";
// From the version written once in the build, e.g. "3.3 (build 0383)".
inline constexpr const char kVersionText[] = CORVANA_VERSION_TEXT;
inline constexpr const char kPrivacyPolicyUrl[] =
    "https://www.example.com/corvana/privacy-policy";

struct AppContext {
  const char* product_name = "";
  const char* version_text = "";
  // Per-machine data folder, ending with the path separator, or empty.
  std::string HomePath;
  // HomePath (or the current directory it falls back to) held open for the
  // run: the log and the probe are opened relative to it.
  platform::HeldFolder home_folder;
  // Why the data folder was not trusted, for the fallback's log; empty when
  // it was, or when it merely could not be written.
  std::string home_refusal_reason;
  // The data folder that was not used, and why, for the administrators'
  // event; empty when it was used or there was none to try.
  std::string home_rejected;
  std::string home_rejected_reason;
  std::string common_appdata_folder;
  std::string temp_folder;
  std::string user_product_folder;
  std::atomic<bool> logging_enabled{false};
};

// Null until a context has been created.
AppContext* GetAppContext();
// The folder the scheduler works in, by name, for an administrator: HomePath,
// or the current directory where HomePath is empty; empty without a context.
std::string WorkingFolderName();
// The current context's held data folder; without a context, a folder that
// is not open, so that every read in it fails as for a missing file.
const platform::HeldFolder& HomeFolder();

// Publishes a fresh context and settles its folders, HomePath after a test
// write. Logging stays off: InitAppContext (service/start_up.h) starts it.
AppContext* CreateAppContext(const char* product_name,
                             const char* version_text);

// A context for a program that only reads the service's folder: HomePath
// as given and held as it is, unjudged; nothing is created or written,
// logging stays off, no crash reporting.
void InitReadOnlyAppContext(const char* product_name, const char* version_text,
                            const std::string& home_path);

// The folder CreateAppContext makes HomePath when its test write succeeds:
// the common data folder, the product's name and the separator; empty when
// the shell names none. Creates and writes nothing.
std::string CommonHomePath(const char* product_name);

// Why the service, running as `account`, would not use `home` (ending with
// the separator) as its data folder, in the words its log line gives after
// the path ("is reached through a link"), as event 3005 does after "not
// trusted:". Empty when it would, and when `home` is missing (the service
// makes it) or empty (the current directory, which it never judges).
std::string HomeRefusal(const std::string& home, platform::ServiceAccount account);

}  // namespace corvana
