// The engine's work between two pauses, and its carry-over at reload.
//   BM_OrdinaryTick: one tick over 10,000 schedules and 1,000 web servers,
//     nothing due, with the heap allocations it makes counted by the
//     operator new below (counter allocs_per_tick; the goal is none).
//   BM_CarryOver/definitions:N/cold:C: carrying the run-time members of N
//     definitions over to a fresh list, with warm or cold caches; 100,000
//     against 10,000 shows whether it is linear.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

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

void BM_OrdinaryTick(benchmark::State& state) {
  InitBenchContext();
  BenchClock clock;
  CountingLauncher launcher;
  ScopedSeams seams(&clock, &launcher);
  const int64_t noon = LocalSeconds(2026, 6, 10, kNotDueHour, 0, 0);
  SchedulerEngine engine;
  FillTickEngine(engine, noon - 60);
  int64_t ticks = 0;
  const uint64_t allocations_before = allocation_count.load();
  for (auto _ : state) {
    // About three ticks to the second, as at the 310 ms pause.
    clock.now_s = noon + (ticks++ / 3) % 60;
    engine.tick_count = 0;  // never the supervising eleventh
    EngineTick(engine);
  }
  const uint64_t allocations = allocation_count.load() - allocations_before;
  if (launcher.starts != 0) {
    state.SkipWithError("a definition fell due: not an ordinary tick");
  }
  if (clock.slept_ms != ticks * kTickPauseMs) {
    state.SkipWithError("a tick did not end with its pause");
  }
  state.counters["allocs_per_tick"] =
      static_cast<double>(allocations) / static_cast<double>(ticks);
  state.SetItemsProcessed(state.iterations() *
                          (kTickSchedules + kTickWebServers));
}
BENCHMARK(BM_OrdinaryTick)->Unit(benchmark::kMicrosecond);

// Writes over more memory than the last-level cache holds.
void EvictCaches() {
  static std::vector<char> sweep(96u << 20);
  static char value = 0;
  ++value;
  for (size_t i = 0; i < sweep.size(); i += 64) sweep[i] = value;
  benchmark::DoNotOptimize(sweep.data());
}

// Every tenth schedule has a running child; one in a hundred has gone from
// the fresh list, so its child is released. With the second argument set,
// each run starts with cold caches, as after a reload has read every file:
// otherwise 10,000 definitions run from the cache and 100,000 from memory,
// and the ratio shows the cache's size rather than the carry-over's growth.
void BM_CarryOver(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool cold = state.range(1) != 0;
  CountingLauncher launcher;
  ScopedSeams seams(nullptr, &launcher);
  std::vector<ScheduleDefinition> snapshot;
  std::vector<ScheduleDefinition> fresh;
  snapshot.reserve(count);
  fresh.reserve(count);
  for (int i = 0; i < count; ++i) {
    ScheduleDefinition record = NotDueSchedule(i);
    if (i % 100 != 99) fresh.push_back(record);
    if (i % 10 == 9) {
      record.process = 1000 + i;
      record.started_at = 1781000000 + i;
    }
    snapshot.push_back(std::move(record));
  }
  for (auto _ : state) {
    if (cold) {
      state.PauseTiming();
      EvictCaches();
      state.ResumeTiming();
    }
    CarryOverRunTime(snapshot, fresh);
    benchmark::ClobberMemory();
  }
  if (fresh[9].process != 1009 || fresh[8].process != 0) {
    state.SkipWithError("the run-time members were not carried by id");
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_CarryOver)
    ->ArgNames({"definitions", "cold"})
    ->Args({10000, 0})
    ->Args({100000, 0})
    ->Args({10000, 1})
    ->Args({100000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvana::bench

BENCHMARK_MAIN();
