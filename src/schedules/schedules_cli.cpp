#include "schedules/schedules_cli.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "environment/app_context.h"
#include "logging/escape.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/seams.h"
#include "schedules/past_runs.h"
#include "schedules/report_json.h"
#include "schedules/report_model.h"
#include "schedules/report_text.h"
#include "schedules/time_arguments.h"

namespace corvana::schedules {
namespace {

constexpr const char kUsage[] =
    "usage: schedules [--home DIR] [--from TIME] [--next N | --until TIME] [--json]\n"
    "       schedules [--home DIR] --history [ID] [--last N] [--json]\n"
    "       schedules --help | --version\n"
    "\n"
    "Lists the schedules and web servers of the scheduler's data folder: each\n"
    "rule in words, its next start times in local time, and its last start\n"
    "from the run journal (or the current log); then the files that do not\n"
    "load, with the reader's own messages, and whether nginx would run.\n"
    "\n"
    "  --home DIR    the data folder (default: the service's HomePath)\n"
    "  --from TIME   count the next starts from this local time (default: now)\n"
    "  --next N      how many next starts of each, 1 to 1000 (default 3)\n"
    "  --until TIME  every start up to this local time (at most 1000 of each)\n"
    "  --history     the past runs in the journal, newest first, of ID or all\n"
    "  --last N      with --history: at most N runs, 1 to 1000 (default 20)\n"
    "  --json        the same as JSON\n"
    "\n"
    "TIME is \"YYYY-MM-DD hh:mm:ss\", or \"YYYY-MM-DD hh:mm:ss +hh:mm\" as the\n"
    "starts are shown, which a time that the clocks repeat needs.\n"
    "\n"
    "Exit code: 0 every file loads, 1 a file does not (--history: the journal\n"
    "cannot be read), 2 usage error, 3 the service would refuse the data folder\n"
    "(its owner, a link, or the folders above it).\n";

struct Options {
  std::string home;
  bool home_given = false;
  std::optional<std::string> from;
  std::optional<std::string> until;
  int next = kDefaultNextCount;
  bool next_given = false;
  bool json = false;
  bool history = false;
  std::optional<std::string> history_id;
  int last = kDefaultHistoryCount;
  bool last_given = false;
  bool help = false;
  bool version = false;
};

bool ParseCount(std::string_view text, int* count) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, *count);
  return error == std::errc() && at == end && *count >= 1 && *count <= kMaxNextCount;
}

// What is wrong with the command line, or nothing.
std::optional<std::string> ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool takes_value = arg == "--home" || arg == "--from" ||
                             arg == "--next" || arg == "--until" || arg == "--last";
    if (takes_value && i + 1 >= argc) return std::string(arg) + " wants a value";
    if (arg == "--home") {
      options->home = argv[++i];
      options->home_given = true;
    } else if (arg == "--from") {
      options->from = argv[++i];
    } else if (arg == "--until") {
      options->until = argv[++i];
    } else if (arg == "--next" || arg == "--last") {
      const bool next = arg == "--next";
      (next ? options->next_given : options->last_given) = true;
      if (!ParseCount(argv[++i], next ? &options->next : &options->last)) {
        return std::string(arg) + " wants a count from 1 to " +
               std::to_string(kMaxNextCount) + ", not \"" + argv[i] + "\"";
      }
    } else if (arg == "--history") {
      options->history = true;
      if (i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--")) {
        options->history_id = argv[++i];
      }
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--help") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else {
      return "unknown option " + std::string(arg);
    }
  }
  if (options->next_given && options->until) return "--next and --until exclude each other";
  if (options->last_given && !options->history) return "--last goes with --history";
  if (options->history && (options->next_given || options->until || options->from)) {
    return "--history shows past runs: no --from, --next or --until";
  }
  return std::nullopt;
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != platform::kPathSeparator &&
      folder.back() != '/') {
    folder += platform::kPathSeparator;
  }
  return folder;
}

// Windows finds no folder by a name that ends with a separator.
std::string WithoutSeparator(std::string folder) {
  while (folder.size() > 1 &&
         (folder.back() == platform::kPathSeparator || folder.back() == '/')) {
    folder.pop_back();
  }
  return folder;
}

int UsageError(std::FILE* err, const std::string& what) {
  std::fprintf(err, "schedules: %s\n", what.c_str());
  std::fputs(kUsage, err);
  return kExitUsage;
}

// Both times as --from and --until take them; false after the usage error.
bool ParseTimes(const Options& options, int64_t* from_s, int64_t* until_s,
                std::string* error) {
  *from_s = platform::CurrentClock().NowSeconds();
  if (options.from && !ParseFromTime(*options.from, from_s, error)) return false;
  if (options.until && !ParseFromTime(*options.until, until_s, error)) {
    *error = "--until" + error->substr(6);
    return false;
  }
  if (options.until && *until_s < *from_s) {
    *error = "--until " + *options.until + " is before --from";
    return false;
  }
  return true;
}

int ShowPastRuns(const Options& options, std::FILE* out) {
  const PastRuns past = ReadPastRuns(HomeFolder(), options.history_id, options.last);
  const std::string text =
      options.json ? RenderPastRunsJson(past) : RenderPastRunsText(past);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return past.journal_read ? 0 : 1;
}

// Found as the service finds it, without its test write: nothing is made.
int ShowReport(const Options& options, int64_t from_s, int64_t until_s,
               platform::ServiceAccount service, std::FILE* out, std::FILE* err) {
  const std::string home = options.home_given ? WithSeparator(options.home)
                                              : CommonHomePath(kProductName);
  if (options.home_given && !platform::PathExists(WithoutSeparator(options.home))) {
    std::fprintf(err, "schedules: the folder %s does not exist\n", options.home.c_str());
    return 1;
  }
  // Web servers' rules read the clock through a context, as in the engine.
  InitReadOnlyAppContext(kProductName, kVersionText, home);
  if (options.home_given && !HomeFolder().IsOpen()) {
    std::fprintf(err, "schedules: %s is not a folder that can be opened\n",
                 EscapeControlCharacters(options.home).c_str());
    return 1;
  }
  if (options.history) return ShowPastRuns(options, out);
  const Report report =
      BuildReport(HomeFolder(), home, from_s,
                  options.until ? kMaxNextCount : options.next, until_s, service);
  const std::string text = options.json ? RenderJson(report) : RenderText(report);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return ReportExitCode(report);
}

}  // namespace

int SchedulesMain(int argc, char** argv, std::FILE* out, std::FILE* err,
                  platform::ServiceAccount service) {
  Options options;
  if (const auto error = ParseOptions(argc, argv, &options)) return UsageError(err, *error);
  if (options.help) {
    std::fputs(kUsage, out);
    return 0;
  }
  if (options.version) {
    std::fprintf(out, "schedules (%s %s)\n", kProductName, kVersionText);
    return 0;
  }
  int64_t from_s = 0;
  int64_t until_s = kNoUntil;
  std::string error;
  if (!ParseTimes(options, &from_s, &until_s, &error)) return UsageError(err, error);
  return ShowReport(options, from_s, until_s, service, out, err);
}

}  // namespace corvana::schedules
