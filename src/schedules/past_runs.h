// `schedules --history`: the past runs the journal holds, newest first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "schedules/run_history.h"

namespace corvana::schedules {

inline constexpr int kDefaultHistoryCount = 20;

struct PastRuns {
  bool journal_read = false;
  std::string journal_error;  // why it could not be read, when it could not
  std::vector<JournalRun> runs;  // newest first
};

// At most `count` runs of the id (or of every id), newest first, from the
// journal in the folder.
PastRuns ReadPastRuns(const platform::HeldFolder& folder,
                      const std::optional<std::string>& id, int count);
std::string RenderPastRunsText(const PastRuns& past);
std::string RenderPastRunsJson(const PastRuns& past);

}  // namespace corvana::schedules
