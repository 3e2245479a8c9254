// The engine's work between two pauses, and its carry-over at reload.
//   BM_OrdinaryTick: one tick over 10,000 schedules and 1,000 web servers,
//     nothing due, with the heap allocations it makes counted by the
//     operator new below (counter allocs_per_tick; the goal is none).
//   BM_TickWithWaitingRuns: the same tick with every slot of the cap on
//     concurrent runs taken and 1,000 runs waiting for one, each tick
//     finding none free (counter allocs_per_tick again).
//   BM_CarryOver/definitions:N/cold:C: carrying the run-time members of N
//     definitions over to a fresh list, with warm or cold caches, beside
//     BM_CarryOverFloor, one walk over both lists of the same size;
//     BM_CarryOverShuffled, the same with the fresh list shuffled.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "engine/carry_over.h"
#include "engine/engine.h"
#include "engine_fixture.h"

namespace {

std::atomic<uint64_t> allocation_count{0};

}  // namespace

// Every operator new of the process, the scheduler's library included,
// comes here; the array and nothrow forms forward to it.
void* operator new(std::size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
// GCC cannot see that the replaced operator new above is malloc's.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace corvana::bench {
namespace {

constexpr int kTickSchedules = 10000;
constexpr int kTickWebServers = 1000;

void FillTickEngine(SchedulerEngine& engine, int64_t last_update_s) {
  engine.schedules.reserve(kTickSchedules);
  for (int i = 0; i < kTickSchedules; ++i) {
    engine.schedules.push_back(NotDueSchedule(i));
  }
  engine.web_servers.reserve(kTickWebServers);
  for (int i = 0; i < kTickWebServers; ++i) {
    engine.web_servers.push_back(NotDueWebServer(i, last_update_s));
  }
}

// With runs waiting, every slot taken by a running child, and the runs
// queued behind them in the order they fell due.
void FillSlotsAndQueue(SchedulerEngine& engine, int waiting) {
  if (waiting == 0) return;
  for (int i = 0; i < engine.max_runs - 1; ++i) {
    engine.schedules[i].process = 1000 + i;
  }
  for (int i = 0; i < waiting; ++i) {
    engine.schedules[kTickSchedules - 1 - i].wait_order = ++engine.last_wait_order;
  }
  engine.runs_waiting = waiting;
}

void TimeTicks(benchmark::State& state, int waiting) {
  InitBenchContext();
  testing::FakeClock clock;
  CountingLauncher launcher;
  testing::ScopedSeams seams(clock, launcher);
  const int64_t noon = testing::LocalSeconds(2026, 6, 10, kNotDueHour, 0, 0);
  SchedulerEngine engine;
  FillTickEngine(engine, noon - 60);
  FillSlotsAndQueue(engine, waiting);
  int64_t ticks = 0;
  const uint64_t allocations_before = allocation_count.load();
  for (auto _ : state) {
    // About three ticks to the second, as at the 310 ms pause.
    clock.Set(noon + (ticks++ / 3) % 60);
    engine.tick_count = 0;  // never the supervising eleventh
    EngineTick(engine);
  }
  const uint64_t allocations = allocation_count.load() - allocations_before;
  if (launcher.starts != 0 || engine.runs_waiting != waiting) {
    state.SkipWithError("a definition fell due or a waiting run started");
  }
  if (clock.slept_ms() != ticks * kTickPauseMs) {
    state.SkipWithError("a tick did not end with its pause");
  }
  state.counters["allocs_per_tick"] =
      static_cast<double>(allocations) / static_cast<double>(ticks);
  state.SetItemsProcessed(state.iterations() *
                          (kTickSchedules + kTickWebServers));
}
void BM_OrdinaryTick(benchmark::State& state) { TimeTicks(state, 0); }
BENCHMARK(BM_OrdinaryTick)->Unit(benchmark::kMicrosecond);
void BM_TickWithWaitingRuns(benchmark::State& state) { TimeTicks(state, 1000); }
BENCHMARK(BM_TickWithWaitingRuns)->Unit(benchmark::kMicrosecond);

// Writes over more memory than the last-level cache holds.
void EvictCaches() {
  static std::vector<char> sweep(96u << 20);
  static char value = 0;
  ++value;
  for (size_t i = 0; i < sweep.size(); i += 64) sweep[i] = value;
  benchmark::DoNotOptimize(sweep.data());
}

// Every tenth schedule has a running child; one in a hundred has gone from
// the fresh list, so its child is released.
struct CarryOverLists {
  std::vector<ScheduleDefinition> snapshot;
  std::vector<ScheduleDefinition> fresh;
};

CarryOverLists MakeCarryOverLists(int count) {
  CarryOverLists lists;
  lists.snapshot.reserve(count);
  lists.fresh.reserve(count);
  for (int i = 0; i < count; ++i) {
    ScheduleDefinition record = NotDueSchedule(i);
    if (i % 100 != 99) lists.fresh.push_back(record);
    if (i % 10 == 9) {
      record.process = 1000 + i;
      record.started_at = 1781000000 + i;
    }
    lists.snapshot.push_back(std::move(record));
  }
  return lists;
}

// With `cold` set, each run starts with cold caches, as after a reload has
// read every file.
template <typename Body>
void TimeWithCaches(benchmark::State& state, bool cold, Body body) {
  for (auto _ : state) {
    if (cold) {
      state.PauseTiming();
      EvictCaches();
      state.ResumeTiming();
    }
    body();
    benchmark::ClobberMemory();
  }
}

void BM_CarryOver(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  CountingLauncher launcher;
  testing::ScopedSeams seams(launcher);
  CarryOverLists lists = MakeCarryOverLists(count);
  std::vector<ScheduleDefinition>& snapshot = lists.snapshot;
  std::vector<ScheduleDefinition>& fresh = lists.fresh;
  TimeWithCaches(state, state.range(1) != 0,
                 [&] { CarryOverRunTime(snapshot, fresh); });
  if (fresh[9].process != 1009 || fresh[8].process != 0) {
    state.SkipWithError("the run-time members were not carried by id");
  }
  state.SetItemsProcessed(state.iterations() * count);
}

// The worst case: the fresh list in another order than the old one, so the
// walk places nothing and every record goes through the table.
void BM_CarryOverShuffled(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  CountingLauncher launcher;
  testing::ScopedSeams seams(launcher);
  CarryOverLists lists = MakeCarryOverLists(count);
  std::mt19937 random(24);
  std::shuffle(lists.fresh.begin(), lists.fresh.end(), random);
  TimeWithCaches(state, state.range(1) != 0,
                 [&] { CarryOverRunTime(lists.snapshot, lists.fresh); });
  state.SetItemsProcessed(state.iterations() * count);
}

// The memory traffic any carry-over pays: each record of both lists read
// once, its id and its child. The carry-over is measured against this at the
// same size, so that a list larger than the cache is no verdict on it.
void BM_CarryOverFloor(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  CarryOverLists lists = MakeCarryOverLists(count);
  int64_t sum = 0;
  auto walk = [&sum](const std::vector<ScheduleDefinition>& list) {
    for (const ScheduleDefinition& record : list) {
      sum += static_cast<int64_t>(record.id.size()) + record.id[0] +
             static_cast<int64_t>(record.process);
    }
  };
  TimeWithCaches(state, state.range(1) != 0, [&] {
    walk(lists.snapshot);
    walk(lists.fresh);
    benchmark::DoNotOptimize(sum);
  });
  state.SetItemsProcessed(state.iterations() * count);
}

void CarryOverSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"definitions", "cold"})
      ->Args({10000, 0})
      ->Args({100000, 0})
      ->Args({10000, 1})
      ->Args({100000, 1})
      ->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_CarryOver)->Apply(CarryOverSizes);
BENCHMARK(BM_CarryOverFloor)->Apply(CarryOverSizes);
BENCHMARK(BM_CarryOverShuffled)
    ->ArgNames({"definitions", "cold"})
    ->Args({10000, 1})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvana::bench

BENCHMARK_MAIN();
