#include "engine/engine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "definitions/change_counter.h"
#include "definitions/definition_loader.h"
#include "engine/run_journal.h"
#include "environment/app_context.h"
#include "logging/events.h"
#include "logging/log.h"
#include "logging/log_lines.h"
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
// of 100,000 definitions costs ten times that of 10,000 and not more. Built
// over the records the walk below could not place.
template <class Definition>
class FreshById {
 public:
  FreshById(std::vector<Definition>& fresh, const std::vector<uint32_t>& subset)
      : fresh_(fresh), members_(subset.size()) {
    // At most three quarters full, so that the table of 100,000 stays in a
    // few megabytes.
    size_t capacity = 16;
    while (capacity * 3 < subset.size() * 4) capacity *= 2;
    slots_.assign(capacity, Slot{0, kNone});
    std::vector<uint32_t> group_of(subset.size());
    for (size_t i = 0; i < subset.size(); ++i) {
      Slot& slot = Probe(fresh[subset[i]].id);
      if (slot.group == kNone) {
        slot = {Hash(fresh[subset[i]].id), uint32_t(groups_.size())};
        groups_.push_back(Group{subset[i]});
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
    for (size_t i = 0; i < subset.size(); ++i) {
      Group& group = groups_[group_of[i]];
      members_[group.begin + group.size++] = subset[i];
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

// Cheap to take while the id is in the cache; equal ids give equal values.
uint64_t IdFingerprint(const std::string& id) {
  const size_t size = id.size();
  uint64_t head = 0;
  uint64_t tail = 0;
  if (size >= 8) {
    std::memcpy(&head, id.data(), 8);
    std::memcpy(&tail, id.data() + size - 8, 8);
  } else {
    std::memcpy(&head, id.data(), size);
  }
  return (head ^ (tail * 0x9E3779B97F4A7C15) ^ size) * 0xC2B2AE3D27D4EB4F;
}

// A pair the walk made, with what the fresh record held before, so that it
// can be undone.
struct WalkPair {
  uint32_t old_index;
  uint32_t fresh_index;
  uint64_t fingerprint;  // IdFingerprint of the id
  RunState fresh_before;
};

template <class Definition>
void UndoPair(const WalkPair& pair, std::vector<Definition>& fresh,
              std::vector<uint32_t>* left_old,
              std::vector<uint32_t>* left_fresh) {
  static_cast<RunState&>(fresh[pair.fresh_index]) = pair.fresh_before;
  left_old->push_back(pair.old_index);
  left_fresh->push_back(pair.fresh_index);
}

template <class Definition>
void UndoPairs(const std::vector<WalkPair>& pairs,
               std::vector<Definition>& fresh, std::vector<uint32_t>* left_old,
               std::vector<uint32_t>* left_fresh) {
  for (const WalkPair& pair : pairs) UndoPair(pair, fresh, left_old, left_fresh);
}

// Undoes the pairs whose id is that of a record left out of the walk: only
// the table knows their places among the records of the id.
template <class Definition>
void UndoPairsOfLeftIds(const std::vector<WalkPair>& pairs,
                        const std::vector<Definition>& snapshot,
                        std::vector<Definition>& fresh,
                        std::vector<uint32_t>* left_old,
                        std::vector<uint32_t>* left_fresh) {
  std::unordered_set<std::string_view> left_ids;
  std::vector<bool> maybe_left(size_t{1} << 16);
  auto leave = [&](const std::string& id) {
    left_ids.insert(id);
    maybe_left[IdFingerprint(id) >> 48] = true;
  };
  for (uint32_t index : *left_old) leave(snapshot[index].id);
  for (uint32_t index : *left_fresh) leave(fresh[index].id);
  // The fingerprint spares most pairs a look at their cold record.
  for (const WalkPair& pair : pairs) {
    if (maybe_left[pair.fingerprint >> 48] &&
        left_ids.contains(snapshot[pair.old_index].id)) {
      UndoPair(pair, fresh, left_old, left_fresh);
    }
  }
}

// Pairs every old record with the fresh record FreshById::Take would give
// it, and calls carry(old, fresh or nullptr) once for each; carry decides
// what moves. Between two reloads the files come back in the folder's
// order, almost all unchanged, so the lists are walked side by side as a
// merge does, resynchronising over a few places where a file came or went.
// A pair of the walk is Take's own as long as no record of its id was left
// out of the walk; the ids of those left out go through the table, built
// only then, and their pairs made by the walk are undone first.
template <class Definition, class Carry>
void PairOldWithFresh(std::vector<Definition>& snapshot,
                      std::vector<Definition>& fresh, Carry carry) {
  constexpr size_t kResyncPlaces = 4;
  constexpr size_t kGiveUpAfter = 64;
  std::vector<WalkPair> pairs;
  pairs.reserve(std::min(snapshot.size(), fresh.size()));
  std::vector<uint32_t> left_old;    // in snapshot order
  std::vector<uint32_t> left_fresh;  // in fresh order
  auto pairs_here = [&](size_t i, size_t j) {
    const Definition& old = snapshot[i];
    const Definition& record = fresh[j];
    return old.id == record.id &&
           (old.process == 0 || record.process == 0 ||
            record.process == old.process);
  };
  size_t i = 0;
  size_t j = 0;
  while (i < snapshot.size() && j < fresh.size()) {
    if (pairs_here(i, j)) {
      pairs.push_back({uint32_t(i), uint32_t(j), IdFingerprint(snapshot[i].id),
                       static_cast<const RunState&>(fresh[j])});
      carry(snapshot[i++], &fresh[j++]);
      continue;
    }
    size_t added = 1;
    while (added <= kResyncPlaces && j + added < fresh.size() &&
           !pairs_here(i, j + added)) {
      ++added;
    }
    if (added <= kResyncPlaces && j + added < fresh.size()) {
      for (; added > 0; --added) left_fresh.push_back(uint32_t(j++));
      continue;
    }
    size_t removed = 1;
    while (removed <= kResyncPlaces && i + removed < snapshot.size() &&
           !pairs_here(i + removed, j)) {
      ++removed;
    }
    if (removed <= kResyncPlaces && i + removed < snapshot.size()) {
      for (; removed > 0; --removed) left_old.push_back(uint32_t(i++));
      continue;
    }
    left_old.push_back(uint32_t(i++));
    left_fresh.push_back(uint32_t(j++));
    // Lists in another order: the table will take them all.
    if (left_old.size() > kGiveUpAfter + pairs.size() / 4) break;
  }
  for (; i < snapshot.size(); ++i) left_old.push_back(uint32_t(i));
  for (; j < fresh.size(); ++j) left_fresh.push_back(uint32_t(j));
  if (left_old.empty() && left_fresh.empty()) return;
  if (left_old.size() + left_fresh.size() > pairs.size() / 4) {
    // Sorting out the walk's pairs would cost more than the table over all.
    UndoPairs(pairs, fresh, &left_old, &left_fresh);
  } else {
    UndoPairsOfLeftIds(pairs, snapshot, fresh, &left_old, &left_fresh);
  }
  if (left_old.empty()) return;  // fresh records alone carry nothing
  std::sort(left_old.begin(), left_old.end());
  std::sort(left_fresh.begin(), left_fresh.end());
  FreshById<Definition> fresh_by_id(fresh, left_fresh);
  for (uint32_t index : left_old) {
    carry(snapshot[index], fresh_by_id.Take(snapshot[index]));
  }
}

// Pairs each old record with a fresh one of the same id, as
// FreshById::Take would. Two files of one id thus keep both their children.
template <class Definition>
void CarryOver(std::vector<Definition>& snapshot,
               std::vector<Definition>& fresh,
               std::vector<Definition>* vanished) {
  PairOldWithFresh(snapshot, fresh, [vanished](Definition& old, Definition* target) {
    if (target == nullptr) {
      if (old.process != 0) KeepIfRunning(old, vanished);
      return;
    }
    CopyRunTime(old, *target);
  });
}

// The lost definitions of earlier reloads join the snapshot last, so that a
// returning id takes over their child.
template <class Definition, class Load>
void Reload(std::vector<Definition>& list, std::vector<Definition>& vanished,
            const Load& load) {
  std::vector<Definition> snapshot = std::move(list);
  snapshot.insert(snapshot.end(), std::make_move_iterator(vanished.begin()),
                  std::make_move_iterator(vanished.end()));
  vanished.clear();
  list.reserve(snapshot.size());  // spares the loader a count of the files
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
  engine.change_counter = ReadChangeCounter(HomeFolder());
  // One may be left from an earlier run. The quit must be over before the
  // web-server reload below starts nginx, or it stops the new one.
  WebServerCommand(NginxCommand::kQuit, kStartUpQuitWaitMs);
  ReloadDefinitions(engine);
  engine.launches_since_serve = 0;
  engine.tick_count = 0;
  engine.serve_started = 0;
  const std::string program_dir = platform::ExecutableFolder();
  if (!program_dir.empty()) engine.program_dir = program_dir;
  WriteTimestampedLog(log_line::kHomePath + platform::CurrentDirectory() +
                      log_line::kHomePathArrow +
                      engine.program_dir);
  WriteTimestampedLog(log_line::kRunTasks);
  AppContext* context = GetAppContext();
  ReportEngineStarted(kVersionText, context ? context->HomePath : std::string(),
                      engine.schedules.size(), engine.web_servers.size());
  engine.start_reported = true;
  BeginJournal(engine);
}

namespace {

// With `web_server_names`, the listing also keeps the web-server files'
// names for ReloadWebServersFrom.
void ReloadSchedulesKeeping(SchedulerEngine& engine,
                            std::string* web_server_names) {
  WriteTimestampedLog(log_line::kLoadingSchedules);
  Reload(engine.schedules, engine.vanished_schedules,
         [web_server_names](std::vector<ScheduleDefinition>* list) {
           LoadSchedules(HomeFolder(), list, web_server_names);
         });
}

// Lists the folder itself when `names` is null.
void ReloadWebServersFrom(SchedulerEngine& engine, const std::string* names) {
  WriteTimestampedLog(log_line::kLoadingWebServers);
  Reload(engine.web_servers, engine.vanished_web_servers,
         [names](std::vector<WebServerDefinition>* list) {
           LoadWebServers(HomeFolder(), list, names);
         });
  if (!engine.web_servers_started && !engine.web_servers.empty()) {
    engine.web_servers_started = true;
    WriteTimestampedLog(log_line::kStartWebServers);
    WebServerCommand(NginxCommand::kStart);
  } else if (engine.web_servers_started && engine.web_servers.empty()) {
    engine.web_servers_started = false;
    WriteTimestampedLog(log_line::kStopWebServers);
    WebServerCommand(NginxCommand::kQuit);
  }
}

}  // namespace

void ReloadSchedules(SchedulerEngine& engine) {
  ReloadSchedulesKeeping(engine, nullptr);
}

void ReloadWebServers(SchedulerEngine& engine) {
  ReloadWebServersFrom(engine, nullptr);
}

// Listing a folder of thousands of files costs the system as much as
// reading some fifty of them, so both kinds come from one listing.
void ReloadDefinitions(SchedulerEngine& engine) {
  std::string web_server_names;
  ReloadSchedulesKeeping(engine, &web_server_names);
  ReloadWebServersFrom(engine, &web_server_names);
}

void EngineShutdown(SchedulerEngine& engine) {
  WriteTimestampedLog(log_line::kStopWebServers);
  WebServerCommand(NginxCommand::kQuit);
  engine.web_servers_started = false;
  WriteTimestampedLog(log_line::kNormalShutdown);
  if (engine.start_reported) {
    JournalServiceStopped(engine);
    ReportEngineStopped();
  }
  engine.start_reported = false;
}

}  // namespace corvana
