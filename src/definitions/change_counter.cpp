#include "definitions/change_counter.h"

#include "platform/fs.h"
#include "platform/seams.h"

namespace corvana {
namespace {

constexpr int kCounterOpenAttempts = 20;
constexpr int kCounterRetryPauseMs = 3;

// Up to 20 attempts 3 ms apart, to get past a writer's short hold on the
// file; gives up at once when nothing exists at the path. The existence
// test follows a failed attempt, so that a readable file costs none.
enum class Attempts { kSucceeded, kMissing, kHeld };

template <class Attempt>
Attempts RetryWhileHeld(const platform::HeldFolder& folder, Attempt attempt) {
  for (int attempts = 0; attempts < kCounterOpenAttempts; ++attempts) {
    if (attempt()) return Attempts::kSucceeded;
    if (!platform::ExistsIn(folder, kCounterFileName)) return Attempts::kMissing;
    platform::CurrentClock().SleepMs(kCounterRetryPauseMs);
  }
  return Attempts::kHeld;
}

}  // namespace

int32_t ReadChangeCounter(const platform::HeldFolder& folder) {
  return ReadChangeCounterUnlessHeld(folder).value_or(0);
}

std::optional<int32_t> ReadChangeCounterUnlessHeld(
    const platform::HeldFolder& folder) {
  unsigned char bytes[4];
  long got = -1;
  // Read in the same attempt as the open: supervision reads it every pass.
  const Attempts attempts = RetryWhileHeld(folder, [&] {
    got = platform::ReadRegularFilePrefixIn(folder, kCounterFileName, bytes,
                                            sizeof bytes);
    return got >= 0;
  });
  if (attempts == Attempts::kHeld) return std::nullopt;
  if (got < 0) return 0;
  if (got < static_cast<long>(sizeof bytes)) return 1;
  // Little-endian on every platform: the file is the writer's, not ours.
  const uint32_t value = static_cast<uint32_t>(bytes[0]) |
                         (static_cast<uint32_t>(bytes[1]) << 8) |
                         (static_cast<uint32_t>(bytes[2]) << 16) |
                         (static_cast<uint32_t>(bytes[3]) << 24);
  return static_cast<int32_t>(value);
}

}  // namespace corvana
