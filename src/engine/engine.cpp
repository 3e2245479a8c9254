#include "engine/engine.h"

#include <iterator>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "definitions/definition_loader.h"
#include "environment/app_context.h"
#include "logging/log.h"
#include "logging/start_up.h"
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
  if (vanished != nullptr && launcher.Query(old.process).state ==
                                 platform::ProcessState::kRunning) {
    vanished->push_back(std::move(old));
  } else {
    launcher.Release(old.process);
  }
}

// The fresh records grouped by id, each group in list order, found by open
// addressing in one flat table: no node per record, so that the carry-over
// of 100,000 definitions costs ten times that of 10,000 and not more.
template <class Definition>
class FreshById {
 public:
  explicit FreshById(std::vector<Definition>& fresh)
      : fresh_(fresh), members_(fresh.size()) {
    // At most three quarters full, so that the table of 100,000 stays in a
    // few megabytes.
    size_t capacity = 16;
    while (capacity * 3 < fresh.size() * 4) capacity *= 2;
    slots_.assign(capacity, Slot{0, kNone});
    std::vector<uint32_t> group_of(fresh.size());
    for (size_t i = 0; i < fresh.size(); ++i) {
      Slot& slot = Probe(fresh[i].id);
      if (slot.group == kNone) {
        slot = {Hash(fresh[i].id), uint32_t(groups_.size())};
        groups_.push_back(Group{uint32_t(i)});
      }
      group_of[i] = slot.group;
      ++groups_[slot.group].size;
    }
    uint32_t begin = 0;
    for (Group& group : groups_) {
      group.begin = group.next = begin;
      begin += group.size;
      group.size = 0;
    }
    for (size_t i = 0; i < fresh.size(); ++i) {
      Group& group = groups_[group_of[i]];
      members_[group.begin + group.size++] = uint32_t(i);
    }
  }

  // The record for the next old record of the id, in old-list order: the
  // fresh record at the same place among those of the id, so that with the
  // files unchanged every child and latch stays with its own file; for a
  // child, failing that, the first of the id without a child. nullptr when
  // none is free. A record that holds this very child already counts as
  // free.
  Definition* Take(const Definition& old) {
    const Slot& slot = Probe(old.id);
    if (slot.group == kNone) return nullptr;
    Group& group = groups_[slot.group];
    const uint32_t place = group.old_seen++;
    // A record without a child only has run memory to give, and it takes
    // no child from anyone: its own place, else the first of the id.
    if (old.process == 0) {
      return &fresh_[members_[group.begin + (place < group.size ? place : 0)]];
    }
    if (place < group.size && Free(group.begin + place, old)) {
      return &fresh_[members_[group.begin + place]];
    }
    // The first free one; those before it have children and keep them.
    for (; group.next < group.begin + group.size; ++group.next) {
      if (Free(group.next, old)) return &fresh_[members_[group.next]];
    }
    return nullptr;
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Slot {
    uint32_t hash;
    uint32_t group;  // kNone: a free slot
  };
  struct Group {
    uint32_t first;  // the record whose id names the group
    uint32_t begin = 0;
    uint32_t size = 0;
    uint32_t next = 0;      // no record before it is without a child
    uint32_t old_seen = 0;  // old records of the id looked at so far
  };

  bool Free(uint32_t member, const Definition& old) const {
    const Definition& record = fresh_[members_[member]];
    return record.process == 0 || record.process == old.process;
  }

  static uint32_t Hash(const std::string& id) {
    return static_cast<uint32_t>(std::hash<std::string_view>()(id));
  }

  // The slot holding the id, or the free one where it would go.
  Slot& Probe(const std::string& id) {
    const uint32_t hash = Hash(id);
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      Slot& slot = slots_[at];
      if (slot.group == kNone) return slot;
      if (slot.hash == hash && fresh_[groups_[slot.group].first].id == id) {
        return slot;
      }
    }
  }

  std::vector<Definition>& fresh_;
  std::vector<uint32_t> members_;  // fresh indices, grouped by id
  std::vector<Group> groups_;
  std::vector<Slot> slots_;
};

// An interval web server starts its interval afresh at every reload, so
// that a changed site shows fresh reports at once: it carries no latch.
bool CarriesRunMemory(const ScheduleDefinition&) { return true; }
bool CarriesRunMemory(const WebServerDefinition& fresh) {
  return KindOf(fresh.type_schedule) != ScheduleKind::kOnce;
}

// What ran stays ran: the latch and the date and minute of the last start
// go with the record whether or not its child still runs, so that a reload
// neither repeats an occurrence (the hour that comes twice, a window after
// a quick child) nor makes a record drop a child it holds.
template <class Definition>
void CopyRunTime(Definition& old, Definition& target) {
  if (CarriesRunMemory(target)) {
    target.fired = old.fired;
    target.fired_date = old.fired_date;
    target.fired_minute_of_day = old.fired_minute_of_day;
  }
  if (old.process == 0) return;
  target.process = old.process;
  target.started_at = old.started_at;
  target.started_monotonic_ms = old.started_monotonic_ms;
}

// Pairs each old record with a fresh one of the same id (FreshById::Take).
// Two files of one id thus keep both their children.
template <class Definition>
void CarryOver(std::vector<Definition>& snapshot,
               std::vector<Definition>& fresh,
               std::vector<Definition>* vanished) {
  FreshById<Definition> fresh_by_id(fresh);
  for (Definition& old : snapshot) {
    Definition* target = fresh_by_id.Take(old);
    if (target == nullptr) {
      if (old.process != 0) KeepIfRunning(old, vanished);
      continue;
    }
    CopyRunTime(old, *target);
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
  WebServerCommand(NginxCommand::kQuit, kStartUpQuitWaitMs);
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
    WebServerCommand(NginxCommand::kStart);
  } else if (engine.web_servers_started && engine.web_servers.empty()) {
    engine.web_servers_started = false;
    WriteTimestampedLog("Stop webservers...");
    WebServerCommand(NginxCommand::kQuit);
  }
}

void EngineShutdown(SchedulerEngine& engine) {
  WriteTimestampedLog("Stop webservers...");
  WebServerCommand(NginxCommand::kQuit);
  engine.web_servers_started = false;
  WriteTimestampedLog("Scheduler normal shutdown.");
}

}  // namespace corvana
