// The test side of the crash-library stand-in (crashrpt_standin.cpp): what
// it recorded, and the control functions it exports by these C names.
#pragma once

#include <cstdint>

#include "logging/crash_reporting.h"

namespace corvana::testing {

// Texts are copied as the library would copy them; pointers in `info` are
// left as received.
struct StandInRecord {
  int install_calls;
  CrashInstallInfo info;
  char app_name[256];
  char app_version[256];
  char email_to[256];
  char email_subject[256];
  char url[256];
  char privacy_policy_url[256];
  int add_file_calls;
  char added_file[1024];
  char added_dest_name[256];
  char added_description[256];
  uint32_t added_flags;
};

// "StandInReset": forgets everything; a nonzero `fail_install` makes every
// later crInstallA refuse, as the real library does on bad settings.
using StandInResetFunction = void (*)(int fail_install);
// "StandInGetRecord".
using StandInGetRecordFunction = const StandInRecord* (*)();
// "StandInCrash": calls the callback of the last successful install as the
// library does when it prepares a report, and returns what it returned; -1
// when nothing is installed.
using StandInCrashFunction = int (*)();

// When this variable names a file, every crInstallA call appends a line to
// it: evidence across processes that this copy was loaded and used.
inline constexpr char kStandInTraceVariable[] = "CORVANA_STANDIN_TRACE";
inline constexpr char kStandInRefusal[] = "Stand-in refused the install";

}  // namespace corvana::testing
