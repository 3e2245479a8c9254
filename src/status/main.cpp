#include <cstdio>

#include "status/schedules_cli.h"

int main(int argc, char** argv) {
  return corvana::status::SchedulesMain(argc, argv, stdout, stderr);
}
