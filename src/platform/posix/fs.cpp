#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

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
  std::FILE* file = std::fopen(path.c_str(), with_cloexec.c_str());
  // Unbuffered: the log opens a stream per entry, and a buffer would cost a
  // size query and an allocation each time. stdio still formats a whole
  // fprintf into one write.
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

namespace {

// O_NONBLOCK keeps a FIFO planted under the name from hanging the open.
int OpenOwnDescriptor(const std::string& path, int flags) {
  const int fd = open(path.c_str(),
                      O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags,
                      0666);
  if (fd < 0) return -1;
  // The service never changes its user: one system call less a log line.
  static const uid_t own_uid = geteuid();
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
      info.st_uid != own_uid) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::FILE* OpenOwnFile(const std::string& path, OwnFileMode mode) {
  const bool append = mode == OwnFileMode::kAppend;
  const int fd = OpenOwnDescriptor(path, append ? O_APPEND : 0);
  if (fd < 0) return nullptr;
  if (!append && ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, append ? "a+" : "w+");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

// Straight to the descriptor: a stream would cost an allocation and a
// flags query a line, and the log writes one for every file it loads.
bool AppendToOwnFile(const std::string& path, const char* text, bool newline) {
  const int fd = OpenOwnDescriptor(path, O_APPEND);
  if (fd < 0) return false;
  // One call for the text and its line end, as a single write would be:
  // the line lands whole at the end even with other writers.
  char line_end = '\n';
  iovec parts[2] = {{const_cast<char*>(text), std::strlen(text)},
                    {&line_end, newline ? size_t{1} : 0}};
  iovec* next = parts;
  int left = 2;
  while (left > 0) {
    const ssize_t count = writev(fd, next, left);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    // A short write: go on from where it stopped.
    size_t done = static_cast<size_t>(count);
    while (left > 0 && done >= next->iov_len) {
      done -= next->iov_len;
      ++next;
      --left;
    }
    if (left > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + done;
      next->iov_len -= done;
    }
  }
  close(fd);
  return true;
}

// Removed by name: unlink takes only the entry in the folder, whatever it
// has become meanwhile, and follows nothing.
bool ProbeOwnFile(const std::string& path) {
  const int fd = OpenOwnDescriptor(path, 0);
  if (fd < 0) return false;
  close(fd);
  unlink(path.c_str());
  return true;
}

namespace {

// O_NONBLOCK keeps a FIFO named like a definition from hanging the open; the
// type test then refuses it. On a regular file the flag changes nothing, so
// it stays set. -1 when the path is not an openable regular file.
int OpenRegularDescriptor(const std::string& path, struct stat* info) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Up to `size` bytes, fewer only at the end of the file or on an error.
size_t ReadUpTo(int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t count = read(fd, buffer + got, size - got);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    got += static_cast<size_t>(count);
  }
  return got;
}

}  // namespace

std::FILE* OpenRegularFile(const std::string& path, bool /*text_mode*/) {
  struct stat info;
  const int fd = OpenRegularDescriptor(path, &info);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "r");
  if (stream == nullptr) close(fd);
  return stream;
}

// Text mode and untranslated are one on POSIX.
ReadWholeResult ReadWholeRegularFile(const std::string& path, bool,
                                     size_t max_bytes,
                                     std::unique_ptr<char[]>* data,
                                     size_t* length) {
  struct stat info;
  const int fd = OpenRegularDescriptor(path, &info);
  if (fd < 0) return ReadWholeResult::kCannotOpen;
  const size_t size = static_cast<size_t>(info.st_size);
  if (size > max_bytes) {
    close(fd);
    return ReadWholeResult::kTooLarge;
  }
  char* buffer = new (std::nothrow) char[size + 1];
  if (buffer == nullptr) {
    close(fd);
    return ReadWholeResult::kNoMemory;
  }
  data->reset(buffer);
  const size_t got = size > 0 ? ReadUpTo(fd, buffer, size) : 0;
  close(fd);
  if (size > 0 && got == 0) {
    data->reset();
    return ReadWholeResult::kCannotRead;
  }
  buffer[got] = '\0';
  *length = got;
  return ReadWholeResult::kRead;
}

long ReadRegularFilePrefix(const std::string& path, void* buffer, size_t size) {
  struct stat info;
  const int fd = OpenRegularDescriptor(path, &info);
  if (fd < 0) return -1;
  const size_t got = ReadUpTo(fd, static_cast<char*>(buffer), size);
  close(fd);
  return static_cast<long>(got);
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
