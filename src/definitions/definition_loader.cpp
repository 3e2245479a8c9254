#include "definitions/definition_loader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "logging/events.h"
#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/fs.h"

namespace corvana {
namespace {

// Windows file names hold none of these. Names reach the analyzer's
// command line and the log, so on other systems a definition whose name
// holds one is not loaded.
constexpr std::array<bool, 256> BuildUnnameable() {
  std::array<bool, 256> unnameable{};
  for (int code = 0; code < 0x20; ++code) unnameable[code] = true;
  for (const char c : std::string_view("<>:\"/\\|?*")) {
    unnameable[static_cast<unsigned char>(c)] = true;
  }
  return unnameable;
}

bool WindowsCanNameIt(const char* name) {
  static constexpr std::array<bool, 256> kUnnameable = BuildUnnameable();
  for (const char* c = name; *c != '\0'; ++c) {
    if (kUnnameable[static_cast<unsigned char>(*c)]) return false;
  }
  return true;
}

bool Loadable(const char* name, SettingsFailure* failure) {
  if (!platform::kListsForeignNames || WindowsCanNameIt(name)) return true;
  WriteLog(log_line::kSkippedFile + std::string(name) + log_line::kSkippedForeignName);
  failure->reason = "its name holds a character that no Windows file name can hold";
  return false;
}

// Once per name and content: the bytes are read again only for a file that
// did not load, which a reload meets rarely.
void ReportUnloadable(const platform::HeldFolder& folder, const char* name) {
  constexpr size_t kMaxReadBytes = size_t{1} << 20;
  std::unique_ptr<char[]> data;
  size_t length = 0;
  if (platform::ReadWholeRegularFileIn(folder, name, false, kMaxReadBytes,
                                       &data, &length) !=
      platform::ReadWholeResult::kRead) {
    length = 0;
  }
  ReportDefinitionNotLoaded(name, std::string_view(data.get(), length));
}

void LogSummary(size_t count, const char* kind) {
  WriteLog(log_line::kLoadedCount + std::to_string(count) + " " + kind +
           log_line::kLoadedCountEnd);
}

void VisitScheduleFile(const platform::HeldFolder& folder, const char* name,
                       const DefinitionVisitor<ScheduleDefinition>& visit) {
  ScheduleDefinition record;
  SettingsFailure failure;
  const bool loaded =
      Loadable(name, &failure) && ReadScheduleFile(folder, name, &record, &failure);
  visit(name, loaded ? nullptr : &failure, record);
}

void VisitWebServerFile(const platform::HeldFolder& folder, const char* name,
                        const DefinitionVisitor<WebServerDefinition>& visit) {
  WebServerDefinition record;
  SettingsFailure failure;
  const bool loaded =
      Loadable(name, &failure) && ReadWebServerFile(folder, name, &record, &failure);
  visit(name, loaded ? nullptr : &failure, record);
}

// The schedule files as ForEachScheduleFile, while the same listing keeps
// the web-server names (each followed by a NUL) when asked to.
bool ForEachScheduleFileKeeping(const platform::HeldFolder& folder,
                                const DefinitionVisitor<ScheduleDefinition>& visit,
                                std::string* web_server_names) {
  if (web_server_names == nullptr) return ForEachScheduleFile(folder, visit);
  static constexpr std::string_view kBothKinds[] = {kScheduleExtension,
                                                    kWebServerExtension};
  return platform::ForEachWithExtensions(
      folder, kBothKinds, [&](const char* name, size_t kind) {
        if (kind == 0) {
          VisitScheduleFile(folder, name, visit);
        } else {
          web_server_names->append(name, std::strlen(name) + 1);
        }
      });
}

}  // namespace

bool ForEachScheduleFile(const platform::HeldFolder& folder,
                         const DefinitionVisitor<ScheduleDefinition>& visit) {
  return platform::ForEachWithExtension(
      folder, kScheduleExtension,
      [&](const char* name) { VisitScheduleFile(folder, name, visit); });
}

bool ForEachWebServerFile(const platform::HeldFolder& folder,
                          const DefinitionVisitor<WebServerDefinition>& visit) {
  return platform::ForEachWithExtension(
      folder, kWebServerExtension,
      [&](const char* name) { VisitWebServerFile(folder, name, visit); });
}

// Room for every file the folder lists now, taken before the first load
// (a reload is given the room of the list it replaces): growing the list by
// doubling would copy it and, with 10,000 definitions, hold half as much
// again at the peak, which the service keeps as its high-water mark for
// good. A folder that changes meanwhile only costs a growth.
template <class Definition>
void ReserveForFiles(const platform::HeldFolder& folder, const char* extension,
                     std::vector<Definition>* list) {
  if (list->capacity() != 0) return;
  size_t files = 0;
  platform::ForEachWithExtension(folder, extension,
                                 [&files](const char*) { ++files; });
  list->reserve(files);
}

void LoadSchedules(const platform::HeldFolder& folder,
                   std::vector<ScheduleDefinition>* list,
                   std::string* web_server_names) {
  list->clear();
  ReserveForFiles(folder, kScheduleExtension, list);
  ForEachScheduleFileKeeping(
      folder,
      [&](const char* name, const SettingsFailure* failure,
          ScheduleDefinition& record) {
        if (failure != nullptr) return ReportUnloadable(folder, name);
        if (record.enabled != 0) list->push_back(std::move(record));
      },
      web_server_names);
  ReportHeldBackEvents();
  LogSummary(list->size(), log_line::kSchedulesKind);
}

void LoadWebServers(const platform::HeldFolder& folder,
                    std::vector<WebServerDefinition>* list,
                    const std::string* names) {
  list->clear();
  auto keep = [&](const char* name, const SettingsFailure* failure,
                  WebServerDefinition& record) {
    if (failure != nullptr) return ReportUnloadable(folder, name);
    if (record.enabled != 0) list->push_back(std::move(record));
  };
  if (names == nullptr) {
    ReserveForFiles(folder, kWebServerExtension, list);
    ForEachWebServerFile(folder, keep);
  } else {
    if (list->capacity() == 0) {
      list->reserve(
          static_cast<size_t>(std::count(names->begin(), names->end(), '\0')));
    }
    for (size_t at = 0; at < names->size(); at = names->find('\0', at) + 1) {
      VisitWebServerFile(folder, names->c_str() + at, keep);
    }
  }
  ReportHeldBackEvents();
  LogSummary(list->size(), log_line::kWebServersKind);
}

}  // namespace corvana
