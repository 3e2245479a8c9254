#include "definitions/definition_loader.h"

#include "environment/app_context.h"
#include "logging/log.h"
#include "platform/fs.h"
#include "platform/seams.h"

namespace corvana {
namespace {

constexpr int kCounterOpenAttempts = 20;
constexpr int kCounterRetryPauseMs = 3;

std::string HomePath() {
  AppContext* context = GetAppContext();
  return context ? context->HomePath : std::string();
}

void LogSummary(size_t count, const char* kind) {
  WriteLog("Loading : " + std::to_string(count) + " " + kind + " items",
           kLogOrdinary);
}

}  // namespace

void LoadSchedules(std::vector<ScheduleDefinition>* list) {
  list->clear();
  const std::string home = HomePath();
  platform::ForEachWithExtension(home, kScheduleExtension, [&](const char* name) {
    ScheduleDefinition record;
    if (ReadScheduleFile(home, name, &record) && record.enabled != 0) {
      list->push_back(std::move(record));
    }
  });
  LogSummary(list->size(), "Schedules");
}

void LoadWebServers(std::vector<WebServerDefinition>* list) {
  list->clear();
  const std::string home = HomePath();
  platform::ForEachWithExtension(home, kWebServerExtension, [&](const char* name) {
    WebServerDefinition record;  // holds the values set before reading
    if (ReadWebServerFile(home + name, &record) && record.enabled != 0) {
      list->push_back(std::move(record));
    }
  });
  LogSummary(list->size(), "Web Servers");
}

std::FILE* OpenCounterFile(const std::string& path) {
  for (int attempt = 0; attempt < kCounterOpenAttempts; ++attempt) {
    if (!platform::PathExists(path)) return nullptr;
    if (std::FILE* file = platform::OpenRegularFile(path, false)) return file;
    platform::CurrentClock().SleepMs(kCounterRetryPauseMs);
  }
  return nullptr;
}

int32_t ReadChangeCounter() {
  std::FILE* file = OpenCounterFile(HomePath() + kCounterFileName);
  if (file == nullptr) return 0;
  unsigned char bytes[4];
  const size_t got = std::fread(bytes, 1, sizeof bytes, file);
  std::fclose(file);
  if (got < sizeof bytes) return 1;
  // Little-endian on every platform: the file is the writer's, not ours.
  const uint32_t value = static_cast<uint32_t>(bytes[0]) |
                         (static_cast<uint32_t>(bytes[1]) << 8) |
                         (static_cast<uint32_t>(bytes[2]) << 16) |
                         (static_cast<uint32_t>(bytes[3]) << 24);
  return static_cast<int32_t>(value);
}

}  // namespace corvana
