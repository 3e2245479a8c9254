// The POSIX command-line splitter, which turns the Windows-style command
// line of a child into its arguments as the Windows runtime would. Any
// text is split without a fault; a text without quotes splits exactly at
// blanks and tabs, backslashes and all; and in the analyzer's command line
// the quoted program comes first whole and the rest of the line, taken from
// the same bytes, splits as before: an id without blanks or tabs stays one
// argument, glued to its option, and nothing is lost or added.
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
  // Windows file names hold no quotes, so ids never do.
  if (text.find('"') != std::string::npos) return 0;
  Check(pieces == Runs(text), "pieces differ from the runs between blanks and tabs");

  const std::string program = "/opt/Corvana Program/Ravo.exe";
  const std::string command = "\"" + program + "\" -_schedule" + text;
  std::vector<std::string> arguments = corvana::platform::SplitCommandLine(command);
  Check(!arguments.empty() && arguments.front() == program, "the program is not first");
  arguments.erase(arguments.begin());
  Check(arguments == Runs("-_schedule" + text), "the option and id split differently");
  return 0;
}
