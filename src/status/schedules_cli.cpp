#include "status/schedules_cli.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "environment/app_context.h"
#include "platform/env.h"
#include "platform/seams.h"
#include "status/status_report.h"

namespace corvana::status {
namespace {

constexpr const char kUsage[] =
    "usage: schedules [--home DIR] [--from \"YYYY-MM-DD hh:mm:ss\"] [--next N] [--json]\n"
    "       schedules --help | --version\n"
    "\n"
    "Lists the schedules and web servers of the scheduler's data folder: each\n"
    "rule in words, its next N start times (default 3) in local time, and its\n"
    "last start from the current log; then the files that do not load, with\n"
    "the reader's own messages, and whether nginx would run.\n"
    "\n"
    "  --home DIR   the data folder (default: the service's HomePath)\n"
    "  --from TIME  count the next starts from this local time (default: now)\n"
    "  --next N     how many next starts, 1 to 1000\n"
    "  --json       the same as JSON\n"
    "\n"
    "Exit code: 0 every file loads, 1 a file does not, 2 usage error.\n";

struct Options {
  std::string home;
  bool home_given = false;
  std::optional<std::string> from;
  int next = kDefaultNextCount;
  bool json = false;
  bool help = false;
  bool version = false;
};

bool ParseCount(std::string_view text, int* count) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, *count);
  return error == std::errc() && at == end && *count >= 1 && *count <= kMaxNextCount;
}

// False on anything it does not know, a missing value or a bad count.
bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool takes_value = arg == "--home" || arg == "--from" || arg == "--next";
    if (takes_value && i + 1 >= argc) return false;
    if (arg == "--home") {
      options->home = argv[++i];
      options->home_given = true;
    } else if (arg == "--from") {
      options->from = argv[++i];
    } else if (arg == "--next") {
      if (!ParseCount(argv[++i], &options->next)) return false;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      return false;
    }
  }
  return true;
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != platform::kPathSeparator &&
      folder.back() != '/') {
    folder += platform::kPathSeparator;
  }
  return folder;
}

int UsageError(std::FILE* err) {
  std::fputs(kUsage, err);
  return kExitUsage;
}

}  // namespace

int SchedulesMain(int argc, char** argv, std::FILE* out, std::FILE* err) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return UsageError(err);
  if (options.help) {
    std::fputs(kUsage, out);
    return 0;
  }
  if (options.version) {
    std::fprintf(out, "schedules (%s %s)\n", kProductName, kVersionText);
    return 0;
  }
  int64_t from_s = platform::CurrentClock().NowSeconds();
  if (options.from && !ParseLocalStamp(*options.from, &from_s)) {
    std::fprintf(err, "schedules: --from wants an existing local time as "
                      "\"YYYY-MM-DD hh:mm:ss\", not \"%s\"\n", options.from->c_str());
    return UsageError(err);
  }
  // Found as the service finds it, without its test write: nothing is made.
  const std::string home = options.home_given ? WithSeparator(options.home)
                                              : CommonHomePath(kProductName);
  // Web servers' rules read the clock through a context, as in the engine.
  InitReadOnlyAppContext(kProductName, kVersionText, home);
  const Report report = BuildReport(home, from_s, options.next);
  const std::string text = options.json ? RenderJson(report) : RenderText(report);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return ReportExitCode(report);
}

}  // namespace corvana::status
