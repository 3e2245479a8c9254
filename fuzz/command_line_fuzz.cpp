// The POSIX command-line splitter, which turns the Windows-style command
// line of a child into its arguments: split at blanks and tabs, nothing
// else. Checked against a plain scan of the same text, and for the
// analyzer's command line: an id without blanks or tabs stays one argument,
// glued to its option, and nothing of the text is lost or added.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/process.h"

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

// The maximal runs of non-separators, in order.
std::vector<std::string> Runs(const std::string& text) {
  std::vector<std::string> runs;
  bool in_run = false;
  for (char c : text) {
    if (IsSeparator(c)) {
      in_run = false;
    } else {
      if (!in_run) runs.emplace_back();
      runs.back().push_back(c);
      in_run = true;
    }
  }
  return runs;
}

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "command-line splitter: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> pieces = corvana::platform::SplitCommandLine(text);
  Check(pieces == Runs(text), "pieces differ from the runs between blanks and tabs");

  // The analyzer's command line for an id taken from the same bytes.
  const std::string program = "/opt/Corvana/Ravo.exe";
  const std::string command = program + " -_schedule" + text;
  const std::vector<std::string> arguments =
      corvana::platform::SplitCommandLine(command);
  const std::vector<std::string> id_runs = Runs(text);
  const bool id_leads = !text.empty() && !IsSeparator(text.front());
  Check(!arguments.empty() && arguments.front() == program, "the program is not first");
  if (id_leads) {
    Check(arguments.size() == 1 + id_runs.size(), "the id split differently");
    Check(arguments[1] == "-_schedule" + id_runs.front(), "the option lost its id");
  } else {
    Check(arguments.size() == 2 + id_runs.size(), "the option split differently");
    Check(arguments[1] == "-_schedule", "the option changed");
  }
  return 0;
}
