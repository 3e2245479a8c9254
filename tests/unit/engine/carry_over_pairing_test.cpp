// What a reload carries over, and its merge walk against the pairing it
// replaced, written out plainly: the k-th old record of an id takes the k-th
// fresh one of the id when that one is free, else the first free one; a
// record without a child gives only its run memory, to the k-th fresh one
// of the id, else the first.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/carry_over.h"
#include "platform/seams.h"
#include "support/fixtures.h"

namespace corvana {
namespace {

using Records = std::vector<ScheduleDefinition>;

// Children and what was set aside, as the two pairings leave them.
struct Outcome {
  std::vector<platform::ProcessHandle> fresh_children;
  std::vector<int64_t> fresh_started_at;
  std::vector<int32_t> fresh_fired_minute;
  std::vector<platform::ProcessHandle> set_aside;
};

Outcome Collect(const Records& fresh, Outcome outcome) {
  for (const ScheduleDefinition& record : fresh) {
    outcome.fresh_children.push_back(record.process);
    outcome.fresh_started_at.push_back(record.started_at);
    outcome.fresh_fired_minute.push_back(record.fired_minute_of_day);
  }
  return outcome;
}

Outcome ReferenceCarryOver(const Records& snapshot, Records fresh) {
  Outcome outcome;
  std::map<std::string, size_t> seen;       // old records of the id so far
  std::map<std::string, size_t> next_free;  // where the search for a free one goes on
  for (const ScheduleDefinition& old : snapshot) {
    const size_t place = seen[old.id]++;
    std::vector<ScheduleDefinition*> group;
    for (ScheduleDefinition& record : fresh) {
      if (record.id == old.id) group.push_back(&record);
    }
    if (old.process == 0) {
      if (!group.empty()) {
        group[place < group.size() ? place : 0]->fired_minute_of_day = old.fired_minute_of_day;
      }
      continue;
    }
    auto free = [&](size_t member) {
      return group[member]->process == 0 || group[member]->process == old.process;
    };
    size_t& next = next_free[old.id];
    ScheduleDefinition* target = nullptr;
    if (place < group.size() && free(place)) {
      target = group[place];
    } else {
      while (next < group.size() && !free(next)) ++next;
      if (next < group.size()) target = group[next];
    }
    if (target == nullptr) {
      outcome.set_aside.push_back(old.process);  // every child here runs
      continue;
    }
    target->process = old.process;
    target->started_at = old.started_at;
    target->fired_minute_of_day = old.fired_minute_of_day;
  }
  return Collect(fresh, std::move(outcome));
}

Outcome WalkCarryOver(Records snapshot, Records fresh) {
  Records vanished;
  CarryOverRunTime(snapshot, fresh, &vanished);
  Outcome outcome;
  for (const ScheduleDefinition& record : vanished) outcome.set_aside.push_back(record.process);
  return Collect(fresh, std::move(outcome));
}

TEST(CarryOverPairingTest, WalkPairsAsTheTableDidOnRandomReloads) {
  testing::RecordingLauncher launcher;
  platform::SetLauncher(&launcher);
  // ids: how many distinct ids the records draw from (few: many repeat).
  // In thousandths: removed and added files, children, and fresh records
  // that already hold a child. shuffled: the fresh list in random order.
  const struct {
    int ids;
    int removed, added, children, fresh_held;
    bool shuffled;
  } cases[] = {
      {1000, 10, 0, 100, 0, false},    // the benchmark's reload
      {1000, 100, 100, 300, 0, false},
      {8, 100, 100, 300, 0, false},    // duplicates everywhere
      {3, 300, 300, 500, 100, false},
      {1000, 50, 50, 300, 0, true},
      {5, 100, 100, 500, 200, true},
      {20, 500, 0, 1000, 1000, true},  // one fresh record of an id, two old
  };
  std::mt19937 random(24);
  auto chance = [&](int thousandths) {
    return static_cast<int>(random() % 1000) < thousandths;
  };
  auto new_child = [&] { return launcher.Start({}).process; };  // running
  for (size_t c = 0; c < std::size(cases); ++c) {
    const auto& the_case = cases[c];
    for (int round = 0; round < 200; ++round) {
      Records snapshot;
      Records fresh;
      const int count = static_cast<int>(random() % 60);
      for (int r = 0; r < count; ++r) {
        ScheduleDefinition record;
        record.id = "id" + std::to_string(random() % the_case.ids);
        if (chance(the_case.added)) fresh.push_back(record);
        if (!chance(the_case.removed)) fresh.push_back(record);
        record.fired_minute_of_day = static_cast<int32_t>(random() % 1440);
        if (chance(the_case.children)) {
          record.process = new_child();
          record.started_at = static_cast<int64_t>(record.process) * 10;
        }
        snapshot.push_back(record);
      }
      if (the_case.shuffled) std::shuffle(fresh.begin(), fresh.end(), random);
      for (ScheduleDefinition& record : fresh) {
        if (!chance(the_case.fresh_held)) continue;
        // Either a child of its own or the one its old record holds.
        record.process = chance(500) || snapshot.empty()
                             ? new_child()
                             : snapshot[random() % snapshot.size()].process;
      }
      const Outcome expected = ReferenceCarryOver(snapshot, fresh);
      const Outcome walked = WalkCarryOver(snapshot, fresh);
      ASSERT_EQ(walked.fresh_children, expected.fresh_children) << "case " << c << " round " << round;
      ASSERT_EQ(walked.fresh_started_at, expected.fresh_started_at) << "case " << c << " round " << round;
      ASSERT_EQ(walked.set_aside, expected.set_aside) << "case " << c << " round " << round;
      ASSERT_EQ(walked.fresh_fired_minute, expected.fresh_fired_minute) << "case " << c << " round " << round;
    }
  }
  platform::SetLauncher(nullptr);
}

TEST(CarryOverPairingTest, DuplicateIdsNeverDropARunningChild) {
  testing::RecordingLauncher launcher;
  testing::ScopedSeams seams(launcher);
  // Old records as id:child (0: none), fresh ids, and the child each fresh
  // record ends with; children that find no fresh record are kept aside. A
  // child stays at its place among the records of its id while there is one.
  struct Old {
    const char* id;
    int child;
  };
  const struct {
    std::vector<Old> old;
    std::vector<const char*> fresh;
    std::vector<int> carried;
    std::vector<int> set_aside;
  } cases[] = {
      {{{"a", 1}, {"a", 0}}, {"a"}, {1}, {}},
      {{{"a", 0}, {"a", 1}}, {"a"}, {1}, {}},
      {{{"a", 1}, {"a", 2}}, {"a", "a"}, {1, 2}, {}},
      {{{"a", 1}, {"a", 2}}, {"a"}, {1}, {2}},
      {{{"a", 1}}, {"a", "a"}, {1, 0}, {}},
      {{{"a", 0}, {"a", 1}}, {"a", "a"}, {0, 1}, {}},
      {{{"a", 0}, {"a", 1}, {"a", 2}}, {"a", "a"}, {2, 1}, {}},
      {{{"a", 1}, {"b", 2}, {"a", 3}}, {"b", "a", "c", "a"}, {2, 1, 0, 3}, {}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    std::vector<platform::ProcessHandle> children(4, 0);
    std::vector<ScheduleDefinition> snapshot;
    for (const Old& old : c.old) {
      ScheduleDefinition record;
      record.id = old.id;
      if (old.child != 0) children[old.child] = record.process = launcher.Start({}).process;
      snapshot.push_back(record);
    }
    std::vector<ScheduleDefinition> fresh(c.fresh.size());
    for (size_t f = 0; f < c.fresh.size(); ++f) fresh[f].id = c.fresh[f];
    std::vector<ScheduleDefinition> vanished;
    launcher.released.clear();
    CarryOverRunTime(snapshot, fresh, &vanished);
    for (size_t f = 0; f < fresh.size(); ++f) {
      EXPECT_EQ(fresh[f].process, children[c.carried[f]]) << "case " << i << " record " << f;
    }
    ASSERT_EQ(vanished.size(), c.set_aside.size()) << "case " << i;
    for (size_t v = 0; v < vanished.size(); ++v) {
      EXPECT_EQ(vanished[v].process, children[c.set_aside[v]]) << "case " << i;
    }
    EXPECT_TRUE(launcher.released.empty()) << "case " << i;
  }
}

}  // namespace
}  // namespace corvana
