#include "platform/trust.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/failure.h"
#include "platform/posix/held_handles.h"

namespace corvana::platform {

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

bool OwnedByTrusted(const struct stat& info, ServiceAccount account) {
  return info.st_uid == 0 ||
         (account == ServiceAccount::kThisProcess && info.st_uid == geteuid());
}

TrustResult Judge(int fd, TrustedObject object, ServiceAccount account) {
  struct stat info;
  if (fstat(fd, &info) != 0) return OpenFailure("fstat", errno);
  const bool folder = object != TrustedObject::kFile;
  if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
    return Verdict(TrustVerdict::kWrongType);
  }
  if (!OwnedByTrusted(info, account)) return Verdict(TrustVerdict::kWrongOwner);
  if ((info.st_mode & kOthersWrite) == 0) return Verdict(TrustVerdict::kTrusted);
  // Others may write into the home, but with the sticky bit only the owner
  // of the program folder can rename or remove it.
  if (object == TrustedObject::kHome) {
    return Verdict((info.st_mode & S_ISVTX) != 0 ? TrustVerdict::kTrusted
                                                 : TrustVerdict::kRemovable);
  }
  return Verdict(TrustVerdict::kChangeable);
}

// A folder above the home: whoever may rename entries in it may put another
// home in the home's place, as OpenSSH's StrictModes reasons.
TrustResult JudgeAncestor(int fd, ServiceAccount account) {
  struct stat info;
  if (fstat(fd, &info) != 0) return OpenFailure("fstat", errno);
  const bool sticky = (info.st_mode & S_ISVTX) != 0;
  if (!OwnedByTrusted(info, account) ||
      ((info.st_mode & kOthersWrite) != 0 && !sticky)) {
    return Verdict(TrustVerdict::kRemovable);
  }
  return Verdict(TrustVerdict::kTrusted);
}

// Walks from "/" down to the folder that holds the home, each step opened
// below the one before without following a link and judged, and leaves that
// folder open in *parent. The names come from realpath, so a link above the
// home is taken where it leads; what is judged is what was opened.
TrustResult OpenAncestors(const std::string& parent_path,
                          ServiceAccount account, int* parent) {
  char resolved[PATH_MAX];
  if (realpath(parent_path.c_str(), resolved) == nullptr) {
    return OpenFailure("realpath", errno);
  }
  *parent = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (*parent < 0) return OpenFailure("open", errno);
  TrustResult judged = JudgeAncestor(*parent, account);
  const std::string path = resolved;
  size_t begin = 1;
  while (judged.verdict == TrustVerdict::kTrusted && begin < path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    int next = -1;
    judged = OpenFolder(*parent, path.substr(begin, end - begin).c_str(), &next);
    close(*parent);
    *parent = next;
    if (next >= 0) judged = JudgeAncestor(next, account);
    begin = end + 1;
  }
  return judged;
}

// Opens the home itself without following a link, after its ancestors. An
// empty home is the current directory, taken as it is.
TrustResult OpenCheckedHome(const std::string& home, ServiceAccount account,
                            int* fd) {
  const std::string path = WithoutTrailingSlash(home);
  if (home.empty()) return OpenFolder(AT_FDCWD, path.c_str(), fd);
  const size_t slash = path.rfind('/');
  const std::string parent_path =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  int parent = -1;
  TrustResult opened = OpenAncestors(parent_path, account, &parent);
  if (opened.verdict == TrustVerdict::kTrusted) {
    opened = OpenFolder(parent, name.c_str(), fd);
  }
  if (parent >= 0) close(parent);
  return opened;
}

// One that cannot be opened, even one removed since the listing, refuses.
TrustResult JudgeEntry(int folder, const char* name, ServiceAccount account) {
  const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenFailure("openat", errno);
  struct stat info;
  const TrustResult judged =
      fstat(fd, &info) != 0
          ? OpenFailure("fstat", errno)
          : Judge(fd, S_ISDIR(info.st_mode) ? TrustedObject::kFolder
                                            : TrustedObject::kFile,
                  account);
  close(fd);
  return judged;
}

// What the program could load from its own folder, listed through a copy
// of the held descriptor so that no name is resolved again.
TrustResult JudgeLoadable(int folder, const std::string& program,
                          ServiceAccount account) {
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
    const TrustResult judged = JudgeEntry(folder, entry->d_name, account);
    if (judged.verdict != TrustVerdict::kTrusted) {
      result = {TrustVerdict::kLoadsUntrusted, judged.detail, entry->d_name};
      break;
    }
  }
  closedir(entries);
  return result;
}

}  // namespace

TrustResult CheckHomeFolder(const std::string& home, ServiceAccount account,
                            HeldFolder* held) {
  int fd = -1;
  TrustResult judged = OpenCheckedHome(home, account, &fd);
  if (fd < 0) return judged;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    judged = OpenFailure("fstat", errno);
  } else if (!OwnedByTrusted(info, account)) {
    judged = Verdict(TrustVerdict::kWrongOwner);
  }
  if (judged.verdict != TrustVerdict::kTrusted) {
    close(fd);
    return judged;
  }
  held->handle().Reset(fd);
  held->handle().path = home;
  return judged;
}

TrustResult CheckProgramTrust(const std::string& home,
                              const std::string& folder,
                              const std::string& file, ServiceAccount account,
                              HeldProgram* held) {
  HeldProgram local;
  HeldProgram::Handles& fds = (held != nullptr ? held : &local)->handles();
  fds.Close();
  TrustResult opened = OpenCheckedHome(home, account, &fds.home);
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
    TrustResult judged = Judge(fd, object, account);
    if (judged.verdict != TrustVerdict::kTrusted) return judged;
  }
  return JudgeLoadable(fds.folder, file, account);
}

}  // namespace corvana::platform
