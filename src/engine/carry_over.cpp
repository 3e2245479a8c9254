#include "engine/carry_over.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string_view>
#include <unordered_set>

#include "platform/seams.h"

namespace corvana {
namespace {

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

// Eight bytes at a time: a general string hash was a third of the
// carry-over of a list in another order, where every id of both lists is
// hashed.
uint32_t IdHash(std::string_view id) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15;
  uint64_t hash = id.size() * kMultiplier;
  auto mix = [&hash](uint64_t word) {
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 32;
  };
  size_t at = 0;
  for (; at + 8 <= id.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, id.data() + at, 8);
    mix(word);
  }
  if (at < id.size()) {  // the last eight bytes, or the few there are
    uint64_t word = 0;
    if (id.size() >= 8) {
      std::memcpy(&word, id.data() + id.size() - 8, 8);
    } else {
      for (size_t k = 0; k < id.size(); ++k) word |= uint64_t(uint8_t(id[k])) << (8 * k);
    }
    mix(word);
  }
  // The table takes the low bits; the digits that tell ids apart sit high.
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCD;
  hash ^= hash >> 33;
  return static_cast<uint32_t>(hash);
}

// The fresh records grouped by id, each group in list order, found by open
// addressing in one flat table: no node per record, so that the carry-over
// of 100,000 definitions costs ten times that of 10,000 and not more. Built
// over the records the walk below could not place. The ids are copied side
// by side into the table's own text, so that looking one up does not reach
// into a fresh record at a random place only to compare: an old record
// without a child reaches only the one it writes to.
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
      const std::string& id = fresh[subset[i]].id;
      const uint32_t hash = IdHash(id);
      Slot& slot = Probe(id, hash);
      if (slot.group == kNone) {
        slot = {hash, uint32_t(groups_.size())};
        groups_.push_back(Group{uint32_t(ids_.size()), uint32_t(id.size())});
        ids_ += id;
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
    const Slot& slot = Probe(old.id, IdHash(old.id));
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
    uint32_t id_at;  // the id, in ids_
    uint32_t id_size;
    uint32_t begin = 0;
    uint32_t size = 0;
    uint32_t next = 0;      // no record before it is without a child
    uint32_t old_seen = 0;  // old records of the id looked at so far
  };

  bool Free(uint32_t member, const Definition& old) const {
    const Definition& record = fresh_[members_[member]];
    return record.process == 0 || record.process == old.process;
  }

  // The slot holding the id, or the free one where it would go.
  Slot& Probe(std::string_view id, uint32_t hash) {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      Slot& slot = slots_[at];
      if (slot.group == kNone) return slot;
      const Group& group = groups_[slot.group];
      if (slot.hash == hash &&
          std::string_view(ids_).substr(group.id_at, group.id_size) == id) {
        return slot;
      }
    }
  }

  std::vector<Definition>& fresh_;
  std::vector<uint32_t> members_;  // fresh indices, grouped by id
  std::vector<Group> groups_;
  std::vector<Slot> slots_;
  std::string ids_;  // every group's id, one after the other
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
  // A waiting run keeps its place, also that of an interval web server;
  // where two of one id meet in one record, the earlier place stays.
  if (old.wait_order != 0 &&
      (target.wait_order == 0 || old.wait_order < target.wait_order)) {
    target.wait_order = old.wait_order;
    target.wait_missed_s = old.wait_missed_s;
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
void UndoAllPairs(const std::vector<WalkPair>& pairs,
                  std::vector<Definition>& fresh) {
  for (const WalkPair& pair : pairs) {
    static_cast<RunState&>(fresh[pair.fresh_index]) = pair.fresh_before;
  }
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

// What the walk leaves: its pairs, and the records it could not place.
struct Walk {
  std::vector<WalkPair> pairs;
  std::vector<uint32_t> left_old;    // in snapshot order
  std::vector<uint32_t> left_fresh;  // in fresh order
};

// How many records from `at` on to skip until one pairs (1 to 4), or 0
// when none of the next four does.
template <class PairsAt>
size_t PlacesToSkip(size_t at, size_t size, const PairsAt& pairs_at) {
  constexpr size_t kResyncPlaces = 4;
  size_t skipped = 1;
  while (skipped <= kResyncPlaces && at + skipped < size &&
         !pairs_at(at + skipped)) {
    ++skipped;
  }
  return skipped <= kResyncPlaces && at + skipped < size ? skipped : 0;
}

// Steps over the few records where a file came (fresh) or went (old),
// leaving them out of the walk; false when the lists do not meet again
// within a few places.
template <class PairsHere>
bool Resynchronise(const PairsHere& pairs_here, size_t old_size,
                   size_t fresh_size, size_t* i, size_t* j, Walk* walk) {
  const size_t added = PlacesToSkip(
      *j, fresh_size, [&](size_t at) { return pairs_here(*i, at); });
  for (size_t k = 0; k < added; ++k) walk->left_fresh.push_back(uint32_t((*j)++));
  if (added > 0) return true;
  const size_t removed = PlacesToSkip(
      *i, old_size, [&](size_t at) { return pairs_here(at, *j); });
  for (size_t k = 0; k < removed; ++k) walk->left_old.push_back(uint32_t((*i)++));
  return removed > 0;
}

// Between two reloads the files come back in the folder's order, almost all
// unchanged, so the lists are walked side by side as a merge does. Calls
// carry(old, fresh) for each pair it makes.
template <class Definition, class Carry>
Walk WalkSideBySide(std::vector<Definition>& snapshot,
                    std::vector<Definition>& fresh, Carry& carry) {
  constexpr size_t kGiveUpAfter = 64;
  Walk walk;
  walk.pairs.reserve(std::min(snapshot.size(), fresh.size()));
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
      walk.pairs.push_back({uint32_t(i), uint32_t(j),
                            IdFingerprint(snapshot[i].id),
                            static_cast<const RunState&>(fresh[j])});
      carry(snapshot[i++], &fresh[j++]);
      continue;
    }
    if (Resynchronise(pairs_here, snapshot.size(), fresh.size(), &i, &j,
                      &walk)) {
      continue;
    }
    walk.left_old.push_back(uint32_t(i++));
    walk.left_fresh.push_back(uint32_t(j++));
    // Lists in another order: the table will take them all.
    if (walk.left_old.size() > kGiveUpAfter + walk.pairs.size() / 4) break;
  }
  for (; i < snapshot.size(); ++i) walk.left_old.push_back(uint32_t(i));
  for (; j < fresh.size(); ++j) walk.left_fresh.push_back(uint32_t(j));
  return walk;
}

// The records left out of the walk go through the table, built only now. A
// pair of the walk is FreshById::Take's own as long as no record of its id
// was left out; the walk's pairs of the left ids are undone first.
template <class Definition, class Carry>
void PairThroughTable(std::vector<Definition>& snapshot,
                      std::vector<Definition>& fresh, Walk& walk,
                      Carry& carry) {
  if (walk.left_old.empty() && walk.left_fresh.empty()) return;
  if (walk.left_old.size() + walk.left_fresh.size() > walk.pairs.size() / 4) {
    // Sorting out the walk's pairs would cost more than the table over all,
    // and with every pair undone, every record is left, in order.
    UndoAllPairs(walk.pairs, fresh);
    walk.left_old.resize(snapshot.size());
    std::iota(walk.left_old.begin(), walk.left_old.end(), 0u);
    walk.left_fresh.resize(fresh.size());
    std::iota(walk.left_fresh.begin(), walk.left_fresh.end(), 0u);
  } else {
    UndoPairsOfLeftIds(walk.pairs, snapshot, fresh, &walk.left_old,
                       &walk.left_fresh);
    std::sort(walk.left_old.begin(), walk.left_old.end());
    std::sort(walk.left_fresh.begin(), walk.left_fresh.end());
  }
  if (walk.left_old.empty()) return;  // fresh records alone carry nothing
  FreshById<Definition> fresh_by_id(fresh, walk.left_fresh);
  for (uint32_t index : walk.left_old) {
    carry(snapshot[index], fresh_by_id.Take(snapshot[index]));
  }
}

// Pairs every old record with the fresh record FreshById::Take would give
// it, and calls carry(old, fresh or nullptr) once for each; carry decides
// what moves.
template <class Definition, class Carry>
void PairOldWithFresh(std::vector<Definition>& snapshot,
                      std::vector<Definition>& fresh, Carry carry) {
  Walk walk = WalkSideBySide(snapshot, fresh, carry);
  PairThroughTable(snapshot, fresh, walk, carry);
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

}  // namespace corvana
