#include "platform/trust.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/failure.h"

namespace corvana::platform {

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

HeldProgram::HeldProgram() : handles_(std::make_unique<Handles>()) {}
HeldProgram::~HeldProgram() = default;

namespace {

constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

TrustResult Verdict(TrustVerdict verdict) { return {verdict, "", ""}; }

TrustResult OpenFailure(const char* call, int error) {
  if (error == ENOENT) return Verdict(TrustVerdict::kMissing);
  // O_NOFOLLOW on a link gives ELOOP; O_DIRECTORY on a link to a file may
  // give ENOTDIR first, so that case is told apart by the caller.
  if (error == ELOOP) return Verdict(TrustVerdict::kLink);
  return {TrustVerdict::kCannotCheck, FailedCallText(call, error), ""};
}

// A trailing slash would make the kernel follow a final link.
std::string WithoutTrailingSlash(const std::string& path) {
  if (path.empty()) return ".";
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return trimmed;
}

// ENOTDIR from an open with O_DIRECTORY | O_NOFOLLOW: a link, or a file.
TrustResult NotAFolder(int parent, const char* name) {
  struct stat info;
  if (fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode)) {
    return Verdict(TrustVerdict::kLink);
  }
  return Verdict(TrustVerdict::kWrongType);
}

TrustResult OpenFolder(int parent, const char* name, int* fd) {
  *fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (*fd >= 0) return Verdict(TrustVerdict::kTrusted);
  if (errno == ENOTDIR) return NotAFolder(parent, name);
  return OpenFailure("openat", errno);
}

bool OwnedByTrusted(const struct stat& info) {
  return info.st_uid == 0 || info.st_uid == geteuid();
}

TrustResult Judge(int fd, TrustedObject object) {
  struct stat info;
  if (fstat(fd, &info) != 0) return OpenFailure("fstat", errno);
  const bool folder = object != TrustedObject::kFile;
  if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
    return Verdict(TrustVerdict::kWrongType);
  }
  if (!OwnedByTrusted(info)) return Verdict(TrustVerdict::kWrongOwner);
  if ((info.st_mode & kOthersWrite) == 0) return Verdict(TrustVerdict::kTrusted);
  // Others may write into the home, but with the sticky bit only the owner
  // of the program folder can rename or remove it.
  if (object == TrustedObject::kHome) {
    return Verdict((info.st_mode & S_ISVTX) != 0 ? TrustVerdict::kTrusted
                                                 : TrustVerdict::kRemovable);
  }
  return Verdict(TrustVerdict::kChangeable);
}

// One that cannot be opened, even one removed since the listing, refuses.
TrustResult JudgeEntry(int folder, const char* name) {
  const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenFailure("openat", errno);
  struct stat info;
  const TrustResult judged =
      fstat(fd, &info) != 0
          ? OpenFailure("fstat", errno)
          : Judge(fd, S_ISDIR(info.st_mode) ? TrustedObject::kFolder
                                            : TrustedObject::kFile);
  close(fd);
  return judged;
}

// What the program could load from its own folder, listed through a copy
// of the held descriptor so that no name is resolved again.
TrustResult JudgeLoadable(int folder, const std::string& program) {
  const int listing = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (listing < 0) return OpenFailure("fcntl", errno);
  DIR* entries = fdopendir(listing);
  if (entries == nullptr) {
    const int error = errno;
    close(listing);
    return OpenFailure("fdopendir", error);
  }
  rewinddir(entries);  // the copy shares its offset with the held descriptor
  TrustResult result = Verdict(TrustVerdict::kTrusted);
  while (const dirent* entry = readdir(entries)) {
    if (!IsLoadableBeside(entry->d_name, program)) continue;
    const TrustResult judged = JudgeEntry(folder, entry->d_name);
    if (judged.verdict != TrustVerdict::kTrusted) {
      result = {TrustVerdict::kLoadsUntrusted, judged.detail, entry->d_name};
      break;
    }
  }
  closedir(entries);
  return result;
}

}  // namespace

TrustResult CheckProgramTrust(const std::string& home,
                              const std::string& folder,
                              const std::string& file, HeldProgram* held) {
  HeldProgram local;
  HeldProgram::Handles& fds = (held != nullptr ? held : &local)->handles();
  fds.Close();
  TrustResult opened =
      OpenFolder(AT_FDCWD, WithoutTrailingSlash(home).c_str(), &fds.home);
  if (fds.home >= 0) opened = OpenFolder(fds.home, folder.c_str(), &fds.folder);
  if (fds.folder >= 0) {
    fds.file = openat(fds.folder, file.c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fds.file < 0) opened = OpenFailure("openat", errno);
  }
  if (fds.file < 0) return opened;
  for (auto [fd, object] : {std::pair{fds.home, TrustedObject::kHome},
                            std::pair{fds.folder, TrustedObject::kFolder},
                            std::pair{fds.file, TrustedObject::kFile}}) {
    TrustResult judged = Judge(fd, object);
    if (judged.verdict != TrustVerdict::kTrusted) return judged;
  }
  return JudgeLoadable(fds.folder, file);
}

}  // namespace corvana::platform
