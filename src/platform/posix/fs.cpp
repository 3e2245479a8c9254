#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace corvana::platform {

bool MakeDirectory(const std::string& path) {
  return mkdir(path.c_str(), 0755) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool PathExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  // "e" is glibc's O_CLOEXEC: a child started while the log or the counter
  // file is open must not inherit the descriptor.
  std::string with_cloexec = std::string(mode) + "e";
  return std::fopen(path.c_str(), with_cloexec.c_str());
}

std::FILE* OpenRegularFile(const std::string& path, bool /*text_mode*/) {
  // O_NONBLOCK keeps a FIFO named like a definition from hanging the open;
  // the type test then refuses it.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* stream = fdopen(fd, "r");
  if (stream == nullptr) close(fd);
  return stream;
}

bool ForEachWithExtension(const std::string& folder,
                          const std::string& extension,
                          const std::function<void(const char* name)>& visit) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return false;
  const size_t ext_length = extension.size();
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    size_t length = std::strlen(name);
    if (length < ext_length) continue;
    if (strcasecmp(name + length - ext_length, extension.c_str()) != 0) {
      continue;
    }
    visit(name);
  }
  closedir(dir);
  return true;
}

}  // namespace corvana::platform
