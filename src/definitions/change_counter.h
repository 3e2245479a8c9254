// The change counter that tells the scheduler that definitions have
// changed: a file in the data folder that the writer of definitions counts
// up, read through the held folder.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/fs.h"

namespace corvana {

inline constexpr const char kCounterFileName[] = "schedule_counter.dat";

// 0 when the file is missing or cannot be opened, 1 when it is shorter than
// 4 bytes, else its first 4 bytes as a little-endian signed integer.
int32_t ReadChangeCounter(const platform::HeldFolder& folder);
// The same, but nothing when the file exists and stayed unreadable through
// every attempt: a writer's hold says nothing about its value.
std::optional<int32_t> ReadChangeCounterUnlessHeld(
    const platform::HeldFolder& folder);

}  // namespace corvana
