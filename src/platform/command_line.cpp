#include "platform/process.h"

namespace corvana::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name ends at the closing quote when it starts with one,
// otherwise at the first blank or tab; a backslash is an ordinary letter.
size_t TakeProgramName(const std::string& line, std::string* name) {
  size_t at = 0;
  if (!line.empty() && line[0] == '"') {
    const size_t close = line.find('"', 1);
    *name = line.substr(1, close == std::string::npos ? std::string::npos
                                                      : close - 1);
    return close == std::string::npos ? line.size() : close + 1;
  }
  while (at < line.size() && !IsBlank(line[at])) name->push_back(line[at++]);
  return at;
}

// Backslashes count only before a quote: 2n of them give n and the quote
// opens or closes quoting, 2n + 1 give n and a literal quote.
size_t TakeBackslashes(const std::string& line, size_t at, std::string* arg,
                       bool* quoted) {
  size_t count = 0;
  while (at < line.size() && line[at] == '\\') ++at, ++count;
  if (at >= line.size() || line[at] != '"') {
    arg->append(count, '\\');
    return at;
  }
  arg->append(count / 2, '\\');
  if (count % 2 == 1) {
    arg->push_back('"');
    return at + 1;
  }
  *quoted = !*quoted;
  return at + 1;
}

// One argument from `at`, which is not a blank; returns where it ends.
size_t TakeArgument(const std::string& line, size_t at, std::string* arg) {
  bool quoted = false;
  while (at < line.size() && (quoted || !IsBlank(line[at]))) {
    if (line[at] == '\\') {
      at = TakeBackslashes(line, at, arg, &quoted);
    } else if (line[at] != '"') {
      arg->push_back(line[at++]);
    } else if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
      arg->push_back('"');  // "" inside quotes is one literal quote
      at += 2;
    } else {
      quoted = !quoted;
      ++at;
    }
  }
  return at;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> args;
  size_t at = 0;
  while (at < command_line.size() && IsBlank(command_line[at])) ++at;
  const std::string line = command_line.substr(at);
  if (line.empty()) return args;
  args.emplace_back();
  at = TakeProgramName(line, &args.back());
  while (true) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at >= line.size()) break;
    args.emplace_back();
    at = TakeArgument(line, at, &args.back());
  }
  return args;
}

}  // namespace corvana::platform
