#include "support/proc.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvana::testing {

namespace fs = std::filesystem;

long OwnPid() { return std::stol(fs::read_symlink("/proc/self").string()); }

std::optional<ProcStat> ReadProcStat(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  // The command name in parentheses may hold blanks and parentheses.
  std::istringstream rest(text.substr(text.rfind(')') + 1));
  ProcStat stat;
  rest >> stat.state >> stat.parent >> stat.group;
  return stat;
}

std::set<long> ZombieChildren() {
  std::set<long> zombies;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    auto stat = ReadProcStat(std::stol(name));
    if (stat && stat->parent == OwnPid() && stat->state == 'Z') {
      zombies.insert(std::stol(name));
    }
  }
  return zombies;
}

std::optional<std::string> OwnDescriptorTargets() {
  std::error_code error;
  std::string targets;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code ignored;
    targets += fs::read_symlink(entry.path(), ignored).string() + "\n";
  }
  if (error) return std::nullopt;
  return targets;
}

std::string OwnStatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = name + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    const size_t value = line.find_first_not_of(" \t", prefix.size());
    return value == std::string::npos ? "" : line.substr(value);
  }
  return "";
}

}  // namespace corvana::testing
