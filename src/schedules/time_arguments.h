// The times that --from and --until take.
#pragma once

#include <cstdint>
#include <string>

namespace corvana::schedules {

// "yyyy-mm-dd hh:mm:ss", optionally followed by " +hh:mm" as the starts
// are shown. False with a message for `error` when malformed, not a local
// time, or a local time that exists twice without an offset to choose.
bool ParseFromTime(const std::string& text, int64_t* seconds, std::string* error);

}  // namespace corvana::schedules
