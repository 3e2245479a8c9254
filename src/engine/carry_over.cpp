#include "engine/carry_over.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string_view>

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

// Ids are mostly 8 to 16 bytes: two loads a side, where a call to memcmp
// was a third of looking a record up.
inline bool SameId(std::string_view a, std::string_view b) {
  const size_t size = a.size();
  if (size != b.size()) return false;
  if (size < 8 || size > 16) return a == b;
  uint64_t words[4];
  std::memcpy(&words[0], a.data(), 8);
  std::memcpy(&words[1], a.data() + size - 8, 8);
  std::memcpy(&words[2], b.data(), 8);
  std::memcpy(&words[3], b.data() + size - 8, 8);
  return ((words[0] ^ words[2]) | (words[1] ^ words[3])) == 0;
}

// Eight bytes at a time: a general string hash was a third of the
// carry-over of a list in another order, where every id of both lists is
// hashed.
inline uint32_t IdHash(std::string_view id) {
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

// How many records ahead a pass along a list asks for what it reads next.
// A record is larger than a cache line and only a part of it is read, and
// with misses to other places in flight the hardware's own look-ahead along
// the list fell short: asking ahead cut the carry-over of 100,000 records in
// another order by a third, and the walk of an unchanged list by a tenth.
constexpr size_t kListAhead = 64;

// Inlined by force, as PrefetchCarried: the compiler counts a prefetch as
// no effect, and drops the call of a function that has no other.
template <class Definition>
[[gnu::always_inline]] inline void PrefetchId(const Definition& record) {
  const char* id = reinterpret_cast<const char*>(&record.id);
  __builtin_prefetch(id);
  __builtin_prefetch(id + sizeof(std::string) - 1);
}

// Asks for what a pair reads and writes of a record: the lines from its run
// state to the end of its id.
template <class Definition>
[[gnu::always_inline]] inline void PrefetchCarried(const Definition& record) {
  const char* begin = reinterpret_cast<const char*>(
      &static_cast<const RunState&>(record));
  const char* end = reinterpret_cast<const char*>(&record.id + 1);
  static_assert(sizeof(RunState) + sizeof(std::string) <= 2 * 64);
  __builtin_prefetch(begin);
  __builtin_prefetch(begin + 64);
  __builtin_prefetch(end - 1);
}

// The fresh records grouped by id, each group in list order, found by open
// addressing in one flat table: no node per record, so that the carry-over
// of 100,000 definitions costs ten times that of 10,000 and not more. Built
// over the records the walk below could not place. In a list of another
// order each lookup is a miss to memory: a slot is eight bytes, so that the
// table of 100,000 stays in the cache and the misses left are to the
// records, and an id that only one file has needs nothing but its slot and
// its record.
template <class Definition>
class FreshById {
 public:
  // How many lookups ahead a slot, and then its record, are asked for:
  // enough to overlap the misses to memory, few enough to stay in cache.
  static constexpr size_t kAhead = 16;

  FreshById(std::vector<Definition>& fresh, const std::vector<uint32_t>& subset)
      : fresh_(fresh) {
    // At most three quarters full.
    size_t capacity = 16;
    while (capacity * 3 < subset.size() * 4) capacity *= 2;
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    uint32_t hashes[kAhead];
    for (size_t i = 0; i < subset.size() + kAhead; ++i) {
      if (i >= kAhead) Insert(subset[i - kAhead], hashes[(i - kAhead) % kAhead]);
      if (i < subset.size()) {
        if (i + kListAhead < subset.size()) PrefetchId(fresh[subset[i + kListAhead]]);
        hashes[i % kAhead] = IdHash(fresh[subset[i]].id);
        PrefetchSlot(hashes[i % kAhead]);
      }
    }
    LayOutGroups();
  }

  void PrefetchSlot(uint32_t hash) const {
    __builtin_prefetch(&slots_[hash & mask_]);
  }

  // Asks for the first record of the id, found by its hash alone, for the
  // lookup and the carry that write to it soon.
  [[gnu::always_inline]] void PrefetchRecord(uint32_t hash) const {
    const Slot& slot = Probe(hash, [](const Slot&) { return true; });
    if (slot.entry != kNone) PrefetchCarried(fresh_[FirstIndex(slot)]);
  }

  // The record for the next old record of the id, in old-list order: the
  // fresh record at the same place among those of the id, so that with the
  // files unchanged every child and latch stays with its own file; for a
  // child, failing that, the first of the id without a child. nullptr when
  // none is free. A record that holds this very child already counts as
  // free. `hash` is IdHash(old.id).
  Definition* Take(const Definition& old, uint32_t hash) {
    Slot& slot = SlotOf(old.id, hash);
    if (slot.entry == kNone) return nullptr;
    if (slot.entry & kGroupBit) return TakeFromGroup(groups_[slot.entry & kIndexMask], old);
    // The id's only record: the first old record of the id takes it, and so
    // does any later one, unless a child found it taken before.
    Definition& record = fresh_[slot.entry & kIndexMask];
    if (old.process == 0) return &record;
    if ((slot.entry & kPassedBit) == 0) {
      if (Free(record, old)) return &record;
      slot.entry |= kPassedBit;
    }
    return nullptr;
  }

 private:
  // A slot's entry: kNone when free; else the index of the id's only fresh
  // record, with kPassedBit, or with kGroupBit the index of its group.
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr uint32_t kGroupBit = 1u << 31;
  static constexpr uint32_t kPassedBit = 1u << 30;
  static constexpr uint32_t kIndexMask = kPassedBit - 1;
  struct Slot {
    uint32_t hash = 0;
    uint32_t entry = kNone;
  };
  // An id that several fresh records share.
  struct Group {
    uint32_t first;      // fresh index of the first record of the id
    uint32_t size;
    uint32_t begin = 0;  // the later members, in members_
    uint32_t next = 0;   // no member before it is without a child
    uint32_t old_seen = 0;  // old records of the id looked at so far
  };

  static bool Free(const Definition& record, const Definition& old) {
    return record.process == 0 || record.process == old.process;
  }

  uint32_t FirstIndex(const Slot& slot) const {
    return slot.entry & kGroupBit ? groups_[slot.entry & kIndexMask].first
                                  : slot.entry & kIndexMask;
  }

  // The first slot of `hash` that `matches`, else the free one where the
  // search ends.
  template <class Matches>
  const Slot& Probe(uint32_t hash, const Matches& matches) const {
    for (size_t at = hash & mask_;; at = (at + 1) & mask_) {
      const Slot& slot = slots_[at];
      if (slot.entry == kNone || (slot.hash == hash && matches(slot))) return slot;
    }
  }

  // The slot of the id, else the free one where it would go.
  Slot& SlotOf(std::string_view id, uint32_t hash) {
    return const_cast<Slot&>(Probe(hash, [&](const Slot& candidate) {
      return SameId(fresh_[FirstIndex(candidate)].id, id);
    }));
  }

  Definition* TakeFromGroup(Group& group, const Definition& old) {
    const uint32_t place = group.old_seen++;
    // A record without a child only has run memory to give, and it takes
    // no child from anyone: its own place, else the first of the id.
    if (old.process == 0) return &Member(group, place < group.size ? place : 0);
    if (place < group.size && Free(Member(group, place), old)) {
      return &Member(group, place);
    }
    // The first free one; those before it have children and keep them.
    for (; group.next < group.size; ++group.next) {
      if (Free(Member(group, group.next), old)) return &Member(group, group.next);
    }
    return nullptr;
  }

  // The k-th fresh record of the group's id.
  Definition& Member(const Group& group, uint32_t k) {
    return fresh_[k == 0 ? group.first : members_[group.begin + k - 1]];
  }

  // An index keeps 30 bits of the entry: a list of a billion definitions
  // would not fit in memory.
  void Insert(uint32_t index, uint32_t hash) {
    Slot& slot = SlotOf(fresh_[index].id, hash);
    if (slot.entry == kNone) {
      slot = {hash, index};
      return;
    }
    if ((slot.entry & kGroupBit) == 0) {
      groups_.push_back({slot.entry, 1});
      slot.entry = kGroupBit | uint32_t(groups_.size() - 1);
    }
    ++groups_[slot.entry & kIndexMask].size;
    later_.push_back({slot.entry & kIndexMask, index});
  }

  // Lays out the members after the first of each group, in list order.
  void LayOutGroups() {
    uint32_t begin = 0;
    for (Group& group : groups_) {
      group.begin = begin;
      begin += group.size - 1;
    }
    members_.resize(begin);
    for (const auto& [group, index] : later_) {
      Group& of = groups_[group];
      members_[of.begin + of.old_seen++] = index;
    }
    for (Group& group : groups_) group.old_seen = 0;
  }

  std::vector<Definition>& fresh_;
  std::vector<Slot> slots_;
  size_t mask_ = 0;
  std::vector<Group> groups_;
  std::vector<std::pair<uint32_t, uint32_t>> later_;  // group, fresh index
  std::vector<uint32_t> members_;  // fresh indices after each group's first
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

// A pair the walk made, so that it can be undone.
struct WalkPair {
  uint32_t old_index;
  uint32_t fresh_index;
  uint64_t fingerprint;  // IdFingerprint of the id
};

// What the walk leaves: its pairs, and the records it could not place.
struct Walk {
  std::vector<WalkPair> pairs;
  // What a paired fresh record held before, by pair index, kept only when
  // it was not the default that a record read from its file holds: kept
  // for every pair, it was most of what a reload of a large list wrote.
  std::vector<std::pair<uint32_t, RunState>> replaced;
  std::vector<uint32_t> left_old;    // in snapshot order
  std::vector<uint32_t> left_fresh;  // in fresh order

  template <class Definition>
  void Pair(uint32_t old_index, const Definition& old, uint32_t fresh_index,
            const Definition& record) {
    const RunState& before = record;
    if (!(before == RunState{})) {
      replaced.emplace_back(uint32_t(pairs.size()), before);
    }
    pairs.push_back({old_index, fresh_index, IdFingerprint(old.id)});
  }

  // What the fresh record of pair `index` held before the pair.
  const RunState& Before(uint32_t index) const {
    static const RunState kDefault;
    const auto it = std::lower_bound(
        replaced.begin(), replaced.end(), index,
        [](const auto& kept, uint32_t at) { return kept.first < at; });
    return it != replaced.end() && it->first == index ? it->second : kDefault;
  }
};

template <class Definition>
void UndoPair(const Walk& walk, uint32_t index, std::vector<Definition>& fresh) {
  static_cast<RunState&>(fresh[walk.pairs[index].fresh_index]) = walk.Before(index);
}

template <class Definition>
void UndoAllPairs(const Walk& walk, std::vector<Definition>& fresh) {
  for (uint32_t index = 0; index < walk.pairs.size(); ++index) {
    UndoPair(walk, index, fresh);
  }
}

// Undoes the pairs whose id is that of a record left out of the walk: only
// the table knows their places among the records of the id. Told apart by
// fingerprint alone, so that no pair's cold record is read: equal ids have
// equal fingerprints, and an id undone only because its fingerprint is that
// of a left one has all its pairs undone and goes through the table whole,
// which pairs it as the walk did.
template <class Definition>
void UndoPairsOfLeftIds(const std::vector<Definition>& snapshot,
                        std::vector<Definition>& fresh, Walk* walk) {
  std::vector<uint64_t> left;
  left.reserve(walk->left_old.size() + walk->left_fresh.size());
  std::vector<bool> maybe_left(size_t{1} << 16);
  auto leave = [&](const std::string& id) {
    left.push_back(IdFingerprint(id));
    maybe_left[left.back() >> 48] = true;
  };
  for (uint32_t index : walk->left_old) leave(snapshot[index].id);
  for (uint32_t index : walk->left_fresh) leave(fresh[index].id);
  std::sort(left.begin(), left.end());
  for (uint32_t index = 0; index < walk->pairs.size(); ++index) {
    const WalkPair& pair = walk->pairs[index];
    if (maybe_left[pair.fingerprint >> 48] &&
        std::binary_search(left.begin(), left.end(), pair.fingerprint)) {
      UndoPair(*walk, index, fresh);
      walk->left_old.push_back(pair.old_index);
      walk->left_fresh.push_back(pair.fresh_index);
    }
  }
}

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
    return SameId(old.id, record.id) &&
           (old.process == 0 || record.process == 0 ||
            record.process == old.process);
  };
  size_t i = 0;
  size_t j = 0;
  while (i < snapshot.size() && j < fresh.size()) {
    if (i + kListAhead < snapshot.size()) PrefetchCarried(snapshot[i + kListAhead]);
    if (j + kListAhead < fresh.size()) PrefetchCarried(fresh[j + kListAhead]);
    if (pairs_here(i, j)) {
      walk.Pair(uint32_t(i), snapshot[i], uint32_t(j), fresh[j]);
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

// In a list of another order every old record finds its fresh one at a
// random place: its slot is asked for two steps ahead, its record one step
// ahead, so that the misses overlap instead of queueing.
template <class Definition, class Carry>
void CarryThroughTable(FreshById<Definition>& table,
                       std::vector<Definition>& snapshot,
                       const std::vector<uint32_t>& left_old, Carry& carry) {
  constexpr size_t kAhead = FreshById<Definition>::kAhead;
  constexpr size_t kKept = 4 * kAhead;  // a power of two above 2 * kAhead
  uint32_t hashes[kKept];
  const size_t size = left_old.size();
  for (size_t k = 0; k < size + 2 * kAhead; ++k) {
    if (k < size) {
      if (k + kListAhead < size) PrefetchId(snapshot[left_old[k + kListAhead]]);
      hashes[k % kKept] = IdHash(snapshot[left_old[k]].id);
      table.PrefetchSlot(hashes[k % kKept]);
    }
    if (k >= kAhead && k - kAhead < size) {
      table.PrefetchRecord(hashes[(k - kAhead) % kKept]);
    }
    if (k >= 2 * kAhead) {
      Definition& old = snapshot[left_old[k - 2 * kAhead]];
      carry(old, table.Take(old, hashes[(k - 2 * kAhead) % kKept]));
    }
  }
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
    UndoAllPairs(walk, fresh);
    walk.left_old.resize(snapshot.size());
    std::iota(walk.left_old.begin(), walk.left_old.end(), 0u);
    walk.left_fresh.resize(fresh.size());
    std::iota(walk.left_fresh.begin(), walk.left_fresh.end(), 0u);
  } else {
    UndoPairsOfLeftIds(snapshot, fresh, &walk);
    std::sort(walk.left_old.begin(), walk.left_old.end());
    std::sort(walk.left_fresh.begin(), walk.left_fresh.end());
  }
  if (walk.left_old.empty()) return;  // fresh records alone carry nothing
  FreshById<Definition> fresh_by_id(fresh, walk.left_fresh);
  CarryThroughTable(fresh_by_id, snapshot, walk.left_old, carry);
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
