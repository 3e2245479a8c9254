// Files and folders. Every stream opened here is kept from child processes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/failure.h"

namespace corvana::platform {

// Creates one folder level; false when it exists already or cannot be made.
bool MakeDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
// True when a file or a folder exists at the path.
bool PathExists(const std::string& path);

// A folder held open for the run: files in it are opened, and on POSIX it is
// listed, through the handle, relative to the very folder that was held,
// never by its path again. The path it was held by (ending with the
// separator, or empty for the current directory) names its files in the
// log.
class HeldFolder {
 public:
  HeldFolder();
  ~HeldFolder();
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  bool IsOpen() const;
  const std::string& path() const;
  struct Handle;
  Handle& handle() { return *handle_; }
  const Handle& handle() const { return *handle_; }

 private:
  std::unique_ptr<Handle> handle_;
};
// Holds the current directory as it is, unjudged: where the service works
// when it has no data folder. False when it cannot be opened.
bool HoldCurrentDirectory(HeldFolder* held);
// Holds the folder at `path` (ending with the separator; empty means the
// current directory) as it is, unjudged: for a reader of the service's
// folder that trusts it no more than its caller does. False when it cannot
// be opened as a folder.
bool HoldFolder(const std::string& path, HeldFolder* held);

// A file the service writes in a folder that others write too, by its name
// in the held folder: opened without following a link, created when missing
// (POSIX: mode 0644), and refused (nullptr, as a file that cannot be opened)
// when it is a link, a hard link with other names, not a regular file, or
// owned by an account other than this process's (Windows: the system's,
// the administrators' or this process's). kTruncate empties it only after
// those checks; kAppend writes at its end. Text mode on Windows, but for
// kAppendBytes, which is kAppend writing its bytes as given (one line, one
// write, whatever its length). Buffered (the writer flushes each entry),
// not inherited by children.
// When it is not opened and `failure` is given, *failure tells why: the
// call that failed, or the check that refused the file.
enum class OwnFileMode { kTruncate, kAppend, kAppendBytes };
std::FILE* OpenOwnFile(const HeldFolder& folder, const std::string& name,
                       OwnFileMode mode, FailedCall* failure = nullptr);
// Which file a stream opened by OpenOwnFile holds, taken once when it is
// opened: the file a name leads to can change, the held one cannot.
struct OwnFileId {
  uint64_t volume = 0;
  uint64_t index = 0;
};
// The held file's id; nothing when the system cannot say.
std::optional<OwnFileId> IdOfOwnFile(std::FILE* file);
// Whether `file`, opened by OpenOwnFile as `name` in the held folder and
// known as `id`, still has that name there: false once an administrator
// deleted it (Windows: marked it for deletion) or renamed it, or when the
// name now leads to another file, so that a writer opens a new one with
// OpenOwnFile. Nothing is opened for writing and no link is followed; POSIX
// asks the system once (fstatat), twice without an id; Windows asks the
// held file for a pending deletion and opens the name for its attributes.
bool OwnFileStillNamed(const HeldFolder& folder, const std::string& name,
                       std::FILE* file, const std::optional<OwnFileId>& id);
// Gives the service's own file `from` in the held folder the name `to` in
// that same folder, replacing what `to` named (a link there is replaced,
// never followed). Both names are looked up through the folder's handle,
// never by path; `from` must pass OpenOwnFile's checks, so that no other
// user's file is moved. False when it could not be renamed.
bool RenameOwnFile(const HeldFolder& folder, const std::string& from,
                   const std::string& to);
// Creates the file as OpenOwnFile does and removes it again, once its checks
// have passed; on Windows through its own handle, never by name. True when
// that worked.
bool ProbeOwnFile(const HeldFolder& folder, const std::string& name);

// Opens a regular file directly in the folder for reading, in the
// platform's text mode when text_mode is set. Users write these files:
// links, files with a second name, folders, pipes and devices are refused
// without blocking, and so is (Windows) a file whose opportunistic lock is
// being broken. When it is not opened and `failure` is given, *failure
// tells why, as for OpenOwnFile.
std::FILE* OpenRegularFileIn(const HeldFolder& folder, const char* name,
                             bool text_mode, FailedCall* failure = nullptr);

// A regular file read whole, opened as OpenRegularFileIn opens it, in the
// platform's text mode when text_mode is set. The buffer holds `length`
// bytes and a terminating zero. A file of more than max_bytes on disk is
// not read at all. When it cannot be opened or read and `failure` is
// given, *failure tells why.
enum class ReadWholeResult {
  kRead,
  kCannotOpen,  // missing, not a regular file, or not allowed
  kNoMemory,    // no buffer for the file's size
  kCannotRead,  // the file has bytes, yet none could be read
  kTooLarge,    // more than max_bytes
};
ReadWholeResult ReadWholeRegularFileIn(const HeldFolder& folder,
                                       const char* name, bool text_mode,
                                       size_t max_bytes,
                                       std::unique_ptr<char[]>* data,
                                       size_t* length,
                                       FailedCall* failure = nullptr);
// Reads up to `size` bytes from the start of a regular file, untranslated;
// -1 when it cannot be opened (as OpenRegularFileIn).
long ReadRegularFilePrefixIn(const HeldFolder& folder, const char* name,
                             void* buffer, size_t size);
// What stands at the name in the folder, the name itself and not what a
// link leads to. A link, a folder, a pipe or a device is kOther: no writer
// holds it, and no wait makes it readable.
enum class EntryKind { kNone, kRegularFile, kOther };
EntryKind EntryIn(const HeldFolder& folder, const char* name);

// Calls visit with the name of every entry of the folder whose name ends
// with one of the extensions, compared without regard to letter case, and
// the index of that extension: files, folders, hidden and system entries,
// in the order the file system gives them. False when the folder cannot be
// listed.
bool ForEachWithExtensions(
    const HeldFolder& folder, std::span<const std::string_view> extensions,
    const std::function<void(const char* name, size_t extension)>& visit);

inline bool ForEachWithExtension(
    const HeldFolder& folder, std::string_view extension,
    const std::function<void(const char* name)>& visit) {
  return ForEachWithExtensions(
      folder, std::span(&extension, 1),
      [&visit](const char* name, size_t) { visit(name); });
}

// Whether ForEachWithExtensions can give a name that no Windows file name
// holds. Not on Windows: there a character the ANSI code page cannot spell
// comes as '?', and such a name fails to open like any unreadable file.
extern const bool kListsForeignNames;

}  // namespace corvana::platform
