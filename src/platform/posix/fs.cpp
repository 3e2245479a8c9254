#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/ascii.h"
#include "platform/posix/held_handles.h"

namespace corvana::platform {

bool MakeDirectory(const std::string& path) {
  return mkdir(path.c_str(), 0755) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool PathExists(const std::string& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

HeldFolder::HeldFolder() : handle_(std::make_unique<Handle>()) {}
HeldFolder::~HeldFolder() = default;
bool HeldFolder::IsOpen() const { return handle_->fd >= 0; }
const std::string& HeldFolder::path() const { return handle_->path; }

bool HoldCurrentDirectory(HeldFolder* held) { return HoldFolder("", held); }

bool HoldFolder(const std::string& path, HeldFolder* held) {
  held->handle().Reset(
      open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  held->handle().path = held->IsOpen() ? path : std::string();
  return held->IsOpen();
}

namespace {

// Says why into *failure, when the caller asked; -1 either way.
int Refuse(FailedCall* failure, FailedCall why) {
  if (failure != nullptr) *failure = why;
  return -1;
}

int FailedOpen(FailedCall* failure) { return Refuse(failure, {"openat", errno}); }

// What the file's status shows against a file of the service's or a user's
// own: nullptr when nothing. A link was refused by the open already.
const char* NotPlain(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  if (info.st_nlink != 1) return "a file with a second name";
  return nullptr;
}

int RefuseOpened(int fd, FailedCall* failure, FailedCall why) {
  close(fd);
  return Refuse(failure, why);
}

// O_NONBLOCK keeps a FIFO planted under the name from hanging the open.
// 0644: others may read the log (the history `schedules` shows), not write.
int OpenOwnDescriptor(const HeldFolder& folder, const std::string& name,
                      int flags, FailedCall* failure = nullptr) {
  if (!folder.IsOpen()) return Refuse(failure, {"openat", EBADF});
  const int fd = openat(folder.handle().fd, name.c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags,
                        0644);
  if (fd < 0) return FailedOpen(failure);
  // The service never changes its user: one system call less a log line.
  static const uid_t own_uid = geteuid();
  struct stat info;
  if (fstat(fd, &info) != 0) return RefuseOpened(fd, failure, {"fstat", errno});
  if (const char* found = NotPlain(info)) {
    return RefuseOpened(fd, failure, {found, 0, NativeErrorKind::kRefused});
  }
  if (info.st_uid != own_uid) {
    return RefuseOpened(fd, failure,
                        {"owned by another account", 0, NativeErrorKind::kRefused});
  }
  // A log left by an older build under a loose umask: nobody else writes it.
  if ((info.st_mode & 07777) != 0644) fchmod(fd, 0644);
  return fd;
}

}  // namespace

std::FILE* OpenOwnFile(const HeldFolder& folder, const std::string& name,
                       OwnFileMode mode, FailedCall* failure) {
  const bool append = mode != OwnFileMode::kTruncate;
  const int fd = OpenOwnDescriptor(folder, name, append ? O_APPEND : 0, failure);
  if (fd < 0) return nullptr;
  if (!append && ftruncate(fd, 0) != 0) {
    RefuseOpened(fd, failure, {"ftruncate", errno});
    return nullptr;
  }
  std::FILE* file = fdopen(fd, append ? "a+" : "w+");
  if (file == nullptr) RefuseOpened(fd, failure, {"fdopen", errno});
  return file;
}

std::optional<OwnFileId> IdOfOwnFile(std::FILE* file) {
  struct stat held;
  if (file == nullptr || fstat(fileno(file), &held) != 0) return std::nullopt;
  return OwnFileId{static_cast<uint64_t>(held.st_dev), static_cast<uint64_t>(held.st_ino)};
}

// The descriptor keeps its inode allocated, so no new file at the name can
// share its number: the same device and inode are the same file. A name
// that leads to it is a link to it, so it is not deleted either: with the
// id taken at the open, the name is the one call to make per entry (a
// reload writes 20,000 of them).
bool OwnFileStillNamed(const HeldFolder& folder, const std::string& name,
                       std::FILE* file, const std::optional<OwnFileId>& id) {
  const std::optional<OwnFileId> held = id ? id : IdOfOwnFile(file);
  struct stat named;
  return held && folder.IsOpen() &&
         fstatat(folder.handle().fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         static_cast<uint64_t>(named.st_dev) == held->volume &&
         static_cast<uint64_t>(named.st_ino) == held->index;
}

// Removed by its name in the held folder: unlinkat takes only the entry,
// whatever it has become meanwhile, and follows nothing.
bool ProbeOwnFile(const HeldFolder& folder, const std::string& name) {
  const int fd = OpenOwnDescriptor(folder, name, 0);
  if (fd < 0) return false;
  close(fd);
  unlinkat(folder.handle().fd, name.c_str(), 0);
  return true;
}

// The checks run on the opened file; renameat then moves the entry itself,
// whatever it has become meanwhile, and follows no link at either name.
bool RenameOwnFile(const HeldFolder& folder, const std::string& from,
                   const std::string& to) {
  const int fd = OpenOwnDescriptor(folder, from, 0);
  if (fd < 0) return false;
  close(fd);
  return renameat(folder.handle().fd, from.c_str(), folder.handle().fd,
                  to.c_str()) == 0;
}

namespace {

// Users name these files: O_NOFOLLOW keeps a link from handing the service
// a file only it may read, and O_NONBLOCK keeps a FIFO from hanging the
// open; the type test then refuses it, and a second name (a hard link to
// somebody else's file) too. On a regular file O_NONBLOCK changes nothing,
// so it stays set. -1 when the name is not an openable regular file.
int OpenRegularDescriptor(const HeldFolder& folder, const char* name,
                          struct stat* info, FailedCall* failure) {
  if (!folder.IsOpen()) return Refuse(failure, {"openat", EBADF});
  if (*name == '\0') return Refuse(failure, {"openat", ENOENT});
  const int fd = openat(folder.handle().fd, name,
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FailedOpen(failure);
  if (fstat(fd, info) != 0) return RefuseOpened(fd, failure, {"fstat", errno});
  if (const char* found = NotPlain(*info)) {
    return RefuseOpened(fd, failure, {found, 0, NativeErrorKind::kRefused});
  }
  return fd;
}

// Up to `size` bytes, fewer only at the end of the file or on an error,
// which goes into *failure when the caller asked.
size_t ReadUpTo(int fd, char* buffer, size_t size, FailedCall* failure = nullptr) {
  size_t got = 0;
  while (got < size) {
    const ssize_t count = read(fd, buffer + got, size - got);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) Refuse(failure, {"read", errno});
    if (count <= 0) break;
    got += static_cast<size_t>(count);
  }
  return got;
}

}  // namespace

std::FILE* OpenRegularFileIn(const HeldFolder& folder, const char* name,
                             bool /*text_mode*/, FailedCall* failure) {
  struct stat info;
  const int fd = OpenRegularDescriptor(folder, name, &info, failure);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "r");
  if (stream == nullptr) RefuseOpened(fd, failure, {"fdopen", errno});
  return stream;
}

// Text mode and untranslated are one on POSIX.
ReadWholeResult ReadWholeRegularFileIn(const HeldFolder& folder,
                                       const char* name, bool,
                                       size_t max_bytes,
                                       std::unique_ptr<char[]>* data,
                                       size_t* length, FailedCall* failure) {
  struct stat info;
  const int fd = OpenRegularDescriptor(folder, name, &info, failure);
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
  const size_t got = size > 0 ? ReadUpTo(fd, buffer, size, failure) : 0;
  close(fd);
  if (size > 0 && got == 0) {
    data->reset();
    return ReadWholeResult::kCannotRead;
  }
  buffer[got] = '\0';
  *length = got;
  return ReadWholeResult::kRead;
}

long ReadRegularFilePrefixIn(const HeldFolder& folder, const char* name,
                             void* buffer, size_t size) {
  struct stat info;
  const int fd = OpenRegularDescriptor(folder, name, &info, nullptr);
  if (fd < 0) return -1;
  const size_t got = ReadUpTo(fd, static_cast<char*>(buffer), size);
  close(fd);
  return static_cast<long>(got);
}

EntryKind EntryIn(const HeldFolder& folder, const char* name) {
  struct stat info;
  if (!folder.IsOpen() || *name == '\0' ||
      fstatat(folder.handle().fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return EntryKind::kNone;
  }
  return S_ISREG(info.st_mode) ? EntryKind::kRegularFile : EntryKind::kOther;
}

bool ForEachWithExtensions(
    const HeldFolder& folder, std::span<const std::string_view> extensions,
    const std::function<void(const char* name, size_t extension)>& visit) {
  if (!folder.IsOpen()) return false;
  // A descriptor of its own: closedir closes it, and it reads from the start.
  const int fd = openat(folder.handle().fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    return false;
  }
  while (dirent* entry = readdir(dir)) {
    const size_t extension = MatchingExtension(entry->d_name, extensions);
    if (extension < extensions.size()) visit(entry->d_name, extension);
  }
  closedir(dir);
  return true;
}

const bool kListsForeignNames = true;

}  // namespace corvana::platform
