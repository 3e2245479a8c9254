#include "platform/fs.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/ascii.h"
#include "platform/win32/held_handles.h"
#include "platform/win32/nt_file.h"

namespace corvana::platform {

bool MakeDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

HeldFolder::HeldFolder() : handle_(std::make_unique<Handle>()) {}
HeldFolder::~HeldFolder() = default;
bool HeldFolder::IsOpen() const {
  return handle_->handle != INVALID_HANDLE_VALUE;
}
const std::string& HeldFolder::path() const { return handle_->path; }

bool HoldCurrentDirectory(HeldFolder* held) { return HoldFolder("", held); }

// Unjudged, so not kept from being renamed either: holding it proves nothing.
bool HoldFolder(const std::string& path, HeldFolder* held) {
  std::string folder = path.empty() ? std::string(".") : path;
  if (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) {
    folder.pop_back();
  }
  // Attributes alone: no other program's share mode or oplock refuses it.
  const NtOpened opened =
      NtOpen(nullptr, folder, FILE_READ_ATTRIBUTES,
             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
             FILE_DIRECTORY_FILE);  // a file is no folder, as O_DIRECTORY says
  held->handle().Reset(opened.handle);
  held->handle().path = held->IsOpen() ? path : std::string();
  return held->IsOpen();
}

namespace {

// What keeps the file from being a regular file with this one name (a
// link, junction or other reparse point, a folder, a device, a second
// name); nothing when it is one.
FailedCall NotPlainFile(HANDLE handle) {
  constexpr NativeErrorKind kRefused = NativeErrorKind::kRefused;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK) return {"not a disk file", 0, kRefused};
  if (!GetFileInformationByHandle(handle, &info)) {
    return {"GetFileInformationByHandle", static_cast<int64_t>(GetLastError())};
  }
  if ((info.dwFileAttributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return {"a link or a folder", 0, kRefused};
  }
  if (info.nNumberOfLinks != 1) return {"a file with a second name", 0, kRefused};
  return {};
}

// Says why into *failure, when the caller asked, and closes what was opened.
HANDLE Refuse(HANDLE handle, FailedCall* failure, const FailedCall& why) {
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  if (failure != nullptr) *failure = why;
  return INVALID_HANDLE_VALUE;
}

constexpr ULONG kNoFollow = FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;

// By its name below the held folder, a reparse point opened as itself and
// never followed; refused unless a plain file owned by a trusted account.
HANDLE OpenOwnHandle(const HeldFolder& folder, const std::string& name,
                     ACCESS_MASK access, ULONG share,
                     FailedCall* failure = nullptr) {
  if (!folder.IsOpen()) {
    return Refuse(INVALID_HANDLE_VALUE, failure,
                  {"NtCreateFile", ERROR_INVALID_HANDLE});
  }
  const NtOpened opened = NtOpen(folder.handle().handle, name,
                                 access | READ_CONTROL, share, FILE_OPEN_IF, kNoFollow);
  if (!opened.opened()) {
    return Refuse(INVALID_HANDLE_VALUE, failure, NtOpenFailure(opened));
  }
  const FailedCall not_plain = NotPlainFile(opened.handle);
  if (not_plain.failed()) return Refuse(opened.handle, failure, not_plain);
  if (!OwnedByTrusted(opened.handle, ServiceAccount::kThisProcess)) {
    return Refuse(opened.handle, failure,
                  {"owned by another account", 0, NativeErrorKind::kRefused});
  }
  return opened.handle;
}

std::FILE* StreamOf(HANDLE handle, int flags, const char* mode,
                    FailedCall* failure) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    Refuse(handle, failure, {"_open_osfhandle", errno});
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) {
    if (failure != nullptr) *failure = {"_fdopen", errno};
    _close(fd);
  }
  return file;
}

}  // namespace

// Shared for reading and writing, as the C runtime's own opens are, and
// for deletion, so that an administrator may delete or rename the log while
// the service holds it (the writer then opens a new one, OwnFileStillNamed).
std::FILE* OpenOwnFile(const HeldFolder& folder, const std::string& name,
                       OwnFileMode mode, FailedCall* failure) {
  HANDLE handle = OpenOwnHandle(folder, name, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                failure);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const bool append = mode != OwnFileMode::kTruncate;
  if (!append && !SetEndOfFile(handle)) {
    Refuse(handle, failure, {"SetEndOfFile", static_cast<int64_t>(GetLastError())});
    return nullptr;
  }
  if (mode == OwnFileMode::kAppendBytes) {
    return StreamOf(handle, _O_BINARY | _O_APPEND, "ab+", failure);
  }
  return StreamOf(handle, _O_TEXT | (append ? _O_APPEND : 0), append ? "a+" : "w+",
                  failure);
}

namespace {

std::optional<OwnFileId> IdOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return OwnFileId{info.dwVolumeSerialNumber,
                   uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

}  // namespace

// A file marked for deletion keeps its name until its last handle closes,
// so the mark is asked first. The name is then opened for its attributes
// alone, which neither a share mode nor an oplock holds up, and its file id
// compared with ours.
bool OwnFileStillNamed(const HeldFolder& folder, const std::string& name,
                       std::FILE* file, const std::optional<OwnFileId>& id) {
  const HANDLE held = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  FILE_STANDARD_INFO standard{};
  if (!folder.IsOpen() || held == INVALID_HANDLE_VALUE ||
      !GetFileInformationByHandleEx(held, FileStandardInfo, &standard,
                                    sizeof standard) ||
      standard.DeletePending || standard.NumberOfLinks == 0) {
    return false;
  }
  const NtOpened named = NtOpen(
      folder.handle().handle, name, FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, kNoFollow);
  if (!named.opened()) return false;
  const std::optional<OwnFileId> held_id = id ? id : IdOf(held);
  const std::optional<OwnFileId> named_id = IdOf(named.handle);
  CloseHandle(named.handle);
  return held_id && named_id && held_id->volume == named_id->volume &&
         held_id->index == named_id->index;
}

std::optional<OwnFileId> IdOfOwnFile(std::FILE* file) {
  if (file == nullptr) return std::nullopt;
  const HANDLE held = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (held == INVALID_HANDLE_VALUE) return std::nullopt;
  return IdOf(held);
}

// Deleted through its own handle, and only once it has passed its checks:
// whatever a refused name leads to stays.
bool ProbeOwnFile(const HeldFolder& folder, const std::string& name) {
  HANDLE handle = OpenOwnHandle(folder, name, GENERIC_WRITE | DELETE, 0);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                             sizeof disposition);
  CloseHandle(handle);
  return true;
}

// Renamed through its own handle, relative to the held folder: the name
// that passed the checks is the file that moves. Held without sharing
// deletion, a file that is open elsewhere (the journal still in use) stays.
bool RenameOwnFile(const HeldFolder& folder, const std::string& from,
                   const std::string& to) {
  HANDLE handle = OpenOwnHandle(folder, from, DELETE, 0);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool renamed = NtRenameInto(handle, folder.handle().handle, to);
  CloseHandle(handle);
  return renamed;
}

namespace {

// A directory search with the path as its pattern: files and folders alike,
// and a file that a writer holds without sharing too.
bool FindAttributes(const std::string& path, DWORD* attributes) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  *attributes = data.dwFileAttributes;
  return true;
}

}  // namespace

bool PathExists(const std::string& path) {
  DWORD attributes = 0;
  return FindAttributes(path, &attributes);
}

// Users write these files and may hold an oplock on them: an open that
// would wait for its break fails at once, as a locked file does.
std::FILE* OpenRegularFileIn(const HeldFolder& folder, const char* name,
                             bool text_mode, FailedCall* failure) {
  if (!folder.IsOpen() || *name == '\0') {
    Refuse(INVALID_HANDLE_VALUE, failure,
           {"NtCreateFile", folder.IsOpen() ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE});
    return nullptr;
  }
  const NtOpened opened =
      NtOpen(folder.handle().handle, name, GENERIC_READ,
             FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, kNoFollow);
  if (!opened.opened()) {
    Refuse(INVALID_HANDLE_VALUE, failure, NtOpenFailure(opened));
    return nullptr;
  }
  const FailedCall not_plain = NotPlainFile(opened.handle);
  if (not_plain.failed()) {
    Refuse(opened.handle, failure, not_plain);
    return nullptr;
  }
  // Text mode: CR LF arrives as LF and Ctrl-Z ends the text.
  return StreamOf(opened.handle, _O_RDONLY | (text_mode ? _O_TEXT : _O_BINARY),
                  text_mode ? "r" : "rb", failure);
}

ReadWholeResult ReadWholeRegularFileIn(const HeldFolder& folder,
                                       const char* name, bool text_mode,
                                       size_t max_bytes,
                                       std::unique_ptr<char[]>* data,
                                       size_t* length, FailedCall* failure) {
  std::FILE* file = OpenRegularFileIn(folder, name, text_mode, failure);
  if (file == nullptr) return ReadWholeResult::kCannotOpen;
  // In text mode the size on disk is an upper bound of what arrives. A file
  // of 2 GiB or more has no long size here and counts as too large.
  long long size = -1;
  if (_fseeki64(file, 0, SEEK_END) == 0) size = _ftelli64(file);
  std::fseek(file, 0, SEEK_SET);
  if (size < 0 || static_cast<unsigned long long>(size) > max_bytes) {
    std::fclose(file);
    return ReadWholeResult::kTooLarge;
  }
  char* buffer = new (std::nothrow) char[static_cast<size_t>(size) + 1];
  if (buffer == nullptr) {
    std::fclose(file);
    return ReadWholeResult::kNoMemory;
  }
  data->reset(buffer);
  size_t got = 0;
  if (size > 0) {
    got = std::fread(buffer, 1, static_cast<size_t>(size), file);
    if (got == 0) {
      if (failure != nullptr && std::ferror(file)) *failure = {"fread", errno};
      std::fclose(file);
      data->reset();
      return ReadWholeResult::kCannotRead;
    }
  }
  buffer[got] = '\0';
  std::fclose(file);
  *length = got;
  return ReadWholeResult::kRead;
}

long ReadRegularFilePrefixIn(const HeldFolder& folder, const char* name,
                             void* buffer, size_t size) {
  std::FILE* file = OpenRegularFileIn(folder, name, false);
  if (file == nullptr) return -1;
  const size_t got = std::fread(buffer, 1, size, file);
  std::fclose(file);
  return static_cast<long>(got);
}

// By the path the folder was held by, as the listing below: a search finds
// a file that a writer holds without sharing too.
EntryKind EntryIn(const HeldFolder& folder, const char* name) {
  constexpr DWORD kNotRegular = FILE_ATTRIBUTE_DIRECTORY |
                                FILE_ATTRIBUTE_REPARSE_POINT |
                                FILE_ATTRIBUTE_DEVICE;
  DWORD attributes = 0;
  if (!folder.IsOpen() || *name == '\0' ||
      !FindAttributes(folder.path() + name, &attributes)) {
    return EntryKind::kNone;
  }
  return (attributes & kNotRegular) == 0 ? EntryKind::kRegularFile
                                         : EntryKind::kOther;
}

// By the path the folder was held by: the data folder is held without
// delete sharing, so that path cannot be renamed away to another folder
// meanwhile, and the listing keeps the order and the names (long names,
// the ANSI code page's spelling) that the file system's search gives.
bool ForEachWithExtensions(
    const HeldFolder& folder, std::span<const std::string_view> extensions,
    const std::function<void(const char* name, size_t extension)>& visit) {
  if (!folder.IsOpen()) return false;
  const std::string pattern =
      folder.path() + "*" +
      (extensions.size() == 1 ? std::string(extensions[0]) : std::string());
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    // The pattern also matches 8.3 short names; keep what the long name ends
    // with, as the listing on other systems does.
    const size_t extension = MatchingExtension(data.cFileName, extensions);
    if (extension < extensions.size()) visit(data.cFileName, extension);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return true;
}

const bool kListsForeignNames = false;

}  // namespace corvana::platform
