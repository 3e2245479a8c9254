#include "engine/engine.h"

#include <iterator>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "definitions/definition_loader.h"
#include "environment/app_context.h"
#include "logging/log.h"
#include "platform/env.h"
#include "platform/seams.h"
#include "webserver/webserver_control.h"

namespace corvana {

std::atomic<bool> stop_requested{false};

namespace {

constexpr int kStartUpQuitWaitMs = 5000;

// A lost definition's child that still runs is kept in `vanished`; the
// handle of one that has ended is released, so that it does not leak.
template <class Definition>
void KeepIfRunning(Definition& old, std::vector<Definition>* vanished) {
  auto& launcher = platform::CurrentLauncher();
  uint32_t exit_code = 0;
  if (vanished != nullptr && launcher.QueryExitCode(old.process, &exit_code) &&
      exit_code == platform::kStillActive) {
    vanished->push_back(std::move(old));
  } else {
    launcher.Release(old.process);
  }
}

// The first record of each id in a list, found by open addressing in one
// flat table: no node per record, so that the carry-over of 100,000
// definitions costs ten times that of 10,000 and not more.
template <class Definition>
class FirstById {
 public:
  explicit FirstById(std::vector<Definition>& list) : list_(list) {
    // At most three quarters full, so that the table of 100,000 stays in a
    // megabyte.
    size_t capacity = 16;
    while (capacity * 3 < list.size() * 4) capacity *= 2;
    slots_.assign(capacity, Slot{0, kEmpty});
    for (size_t i = 0; i < list.size(); ++i) {
      Slot& slot = Probe(list[i].id);
      if (slot.index == kEmpty) slot = {Hash(list[i].id), uint32_t(i)};
    }
  }

  Definition* Find(const std::string& id) {
    const Slot& slot = Probe(id);
    return slot.index == kEmpty ? nullptr : &list_[slot.index];
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  struct Slot {
    uint32_t hash;
    uint32_t index;
  };

  static uint32_t Hash(const std::string& id) {
    return static_cast<uint32_t>(std::hash<std::string_view>()(id));
  }

  // The slot holding the id, or the empty one where it would go.
  Slot& Probe(const std::string& id) {
    const uint32_t hash = Hash(id);
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      Slot& slot = slots_[at];
      if (slot.index == kEmpty) return slot;
      if (slot.hash == hash && list_[slot.index].id == id) return slot;
    }
  }

  std::vector<Definition>& list_;
  std::vector<Slot> slots_;
};

// Carries `process` and `started_at` from the old list to the first record
// of the new list with the same id, in old-list order, so that the later of
// two old records with one id wins.
template <class Definition>
void CarryOver(std::vector<Definition>& snapshot,
               std::vector<Definition>& fresh,
               std::vector<Definition>* vanished) {
  FirstById<Definition> first_by_id(fresh);
  auto& launcher = platform::CurrentLauncher();
  for (Definition& old : snapshot) {
    Definition* found = first_by_id.Find(old.id);
    if (found == nullptr) {
      if (old.process != 0) KeepIfRunning(old, vanished);
      continue;
    }
    Definition& target = *found;
    if (target.process != 0 && target.process != old.process) {
      launcher.Release(target.process);
    }
    target.process = old.process;
    target.started_at = old.started_at;
    target.started_monotonic_ms = old.started_monotonic_ms;
  }
}

std::string ProgramDir() {
  const std::string path = platform::ExecutablePath();
  const size_t last = path.rfind(platform::kPathSeparator);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// The lost definitions of earlier reloads join the snapshot last, so that a
// returning id takes over their child.
template <class Definition>
void Reload(std::vector<Definition>& list, std::vector<Definition>& vanished,
            void (*load)(std::vector<Definition>*)) {
  std::vector<Definition> snapshot = std::move(list);
  snapshot.insert(snapshot.end(), std::make_move_iterator(vanished.begin()),
                  std::make_move_iterator(vanished.end()));
  vanished.clear();
  load(&list);
  CarryOver(snapshot, list, &vanished);
}

}  // namespace

void CarryOverRunTime(std::vector<ScheduleDefinition>& snapshot,
                      std::vector<ScheduleDefinition>& fresh,
                      std::vector<ScheduleDefinition>* vanished) {
  CarryOver(snapshot, fresh, vanished);
}

void CarryOverRunTime(std::vector<WebServerDefinition>& snapshot,
                      std::vector<WebServerDefinition>& fresh,
                      std::vector<WebServerDefinition>* vanished) {
  CarryOver(snapshot, fresh, vanished);
}

// Neither the engine nor its start-up clears the stop flag: the service
// reports running before the engine exists, so a stop may already have come,
// and clearing it would lose that stop and keep the service running. The
// flag starts false, once per process, as the service runs once.
SchedulerEngine::SchedulerEngine() = default;

SchedulerEngine::~SchedulerEngine() { EngineShutdown(*this); }

void EngineStart(SchedulerEngine& engine) {
  InitAppContext(kProductName, kVersionText, kPrivacyPolicyUrl);
  engine.change_counter = ReadChangeCounter();
  // One may be left from an earlier run. The quit must be over before the
  // web-server reload below starts nginx, or it stops the new one.
  WebServerCommand(kWebServerQuit, kStartUpQuitWaitMs);
  ReloadSchedules(engine);
  ReloadWebServers(engine);
  engine.launches_since_serve = 0;
  engine.tick_count = 0;
  engine.serve_started = 0;
  const std::string program_dir = ProgramDir();
  if (!program_dir.empty()) engine.program_dir = program_dir;
  WriteTimestampedLog("Home path: " + platform::CurrentDirectory() + " >> " +
                      engine.program_dir);
  WriteTimestampedLog("Run Task Schedulers/Webservers...");
}

void ReloadSchedules(SchedulerEngine& engine) {
  WriteTimestampedLog("Loading schedules");
  Reload(engine.schedules, engine.vanished_schedules, &LoadSchedules);
}

void ReloadWebServers(SchedulerEngine& engine) {
  WriteTimestampedLog("Loading webservers");
  Reload(engine.web_servers, engine.vanished_web_servers, &LoadWebServers);
  if (!engine.web_servers_started && !engine.web_servers.empty()) {
    engine.web_servers_started = true;
    WriteTimestampedLog("Start webservers...");
    WebServerCommand(kWebServerStart);
  } else if (engine.web_servers_started && engine.web_servers.empty()) {
    engine.web_servers_started = false;
    WriteTimestampedLog("Stop webservers...");
    WebServerCommand(kWebServerQuit);
  }
}

void EngineShutdown(SchedulerEngine& engine) {
  WriteTimestampedLog("Stop webservers...");
  WebServerCommand(kWebServerQuit);
  engine.web_servers_started = false;
  WriteTimestampedLog("Scheduler normal shutdown.");
}

}  // namespace corvana
