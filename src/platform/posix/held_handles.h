// The descriptors behind platform::HeldFolder and platform::HeldProgram,
// shared by fs.cpp, trust.cpp and process.cpp.
#pragma once

#include <unistd.h>

#include <string>

#include "platform/fs.h"
#include "platform/trust.h"

namespace corvana::platform {

struct HeldFolder::Handle {
  int fd = -1;
  std::string path;
  void Reset(int new_fd) {
    if (fd >= 0) close(fd);
    fd = new_fd;
  }
  ~Handle() { Reset(-1); }
};

struct HeldProgram::Handles {
  int home = -1;
  int folder = -1;
  int file = -1;
  void Close() {
    for (int* fd : {&home, &folder, &file}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }
  ~Handles() { Close(); }
};

}  // namespace corvana::platform
