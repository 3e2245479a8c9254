#include <cstdio>

#include "schedules/schedules_cli.h"

int main(int argc, char** argv) {
  return corvana::schedules::SchedulesMain(argc, argv, stdout, stderr);
}
