#include "schedules/time_arguments.h"

#include <vector>

#include "schedules/local_stamps.h"

namespace corvana::schedules {

bool ParseFromTime(const std::string& text, int64_t* seconds, std::string* error) {
  const std::string local = text.substr(0, 19);
  int64_t guess = 0;
  if ((text.size() != 19 && text.size() != 26) || !ParseLocalStamp(local, &guess)) {
    *error = "--from wants an existing local time as \"YYYY-MM-DD hh:mm:ss\" or "
             "\"YYYY-MM-DD hh:mm:ss +hh:mm\", not \"" + text + "\"";
    return false;
  }
  std::vector<std::string> instances;
  for (int64_t shift_s : {-3600, 0, 3600}) {
    const int64_t candidate = guess + shift_s;
    if (LocalStamp(candidate) != local) continue;
    const std::string stamp = OffsetStamp(candidate);
    if (text.size() == 19 || stamp == text) *seconds = candidate;
    if (text.size() == 19 || stamp == text) instances.push_back(stamp);
  }
  if (instances.size() == 1) return true;
  *error = instances.empty()
               ? "--from: " + local + " has no offset " + text.substr(20) + " here"
               : "--from: " + local + " happens twice here, as " + instances[0] +
                     " and as " + instances[1] + "; add the offset";
  return false;
}

}  // namespace corvana::schedules
