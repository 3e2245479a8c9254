// The cheapest loop that keeps the scheduler's cadence: ten pauses of 310 ms,
// then one 4-byte read of the file named on the command line, until killed.
// scripts/perf measures the idle service against it.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const timespec pause{0, 310 * 1000 * 1000};
  for (;;) {
    for (int tick = 0; tick < 10; ++tick) nanosleep(&pause, nullptr);
    char bytes[4];
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      if (read(fd, bytes, sizeof bytes) < 0) return 1;
      close(fd);
    }
  }
}
