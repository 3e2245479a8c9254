#include <cstdio>

#include "service/entry_point.h"

int main(int argc, char** argv) {
  return corvana::SchedulerMain(argc, argv, stdout, stderr);
}
