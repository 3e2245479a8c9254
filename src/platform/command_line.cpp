#include "platform/process.h"

namespace corvana::platform {

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> args;
  std::string current;
  for (char c : command_line) {
    if (c == ' ' || c == '\t') {
      if (!current.empty()) args.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) args.push_back(std::move(current));
  return args;
}

}  // namespace corvana::platform
