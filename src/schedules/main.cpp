#include <cstdio>

#include "schedules/schedules_cli.h"

int main(int argc, char** argv) {
  // Whoever runs it, the folder is judged for the account the service runs
  // as: a folder its caller owns is no folder the system would work in.
  return corvana::schedules::SchedulesMain(argc, argv, stdout, stderr,
                                           corvana::platform::ServiceAccount::kSystem);
}
