// Files and folders. Every stream opened here is kept from child processes.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace corvana::platform {

// Creates one folder level; false when it exists already or cannot be made.
bool MakeDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
// True when a file or a folder exists at the path.
bool PathExists(const std::string& path);

// fopen with the C modes ("w+", "a+", "rb", ...), not inherited by children.
// On POSIX the stream is unbuffered: meant for a few whole writes.
std::FILE* OpenStream(const std::string& path, const char* mode);
// A file the service writes in a folder that others write too: opened
// without following a link, created when missing, and refused (nullptr, as
// a file that cannot be opened) when it is a link, a hard link with other
// names, not a regular file, or (POSIX) owned by another user. kTruncate
// empties it only after those checks; kAppend writes at its end. Text mode
// on Windows, unbuffered on POSIX, not inherited by children.
enum class OwnFileMode { kTruncate, kAppend };
std::FILE* OpenOwnFile(const std::string& path, OwnFileMode mode);
// Appends `text`, and a line end when `newline` is set, to the file as
// OpenOwnFile(kAppend) opens it, in one write, and closes it again. False
// when it could not be opened.
bool AppendToOwnFile(const std::string& path, const char* text, bool newline);
// Creates the file as OpenOwnFile does and removes it again; on Windows
// through its own handle, never by name. True when that worked.
bool ProbeOwnFile(const std::string& path);

// Opens a regular file for reading, in the platform's text mode when
// text_mode is set. Folders, pipes and devices are refused without blocking.
std::FILE* OpenRegularFile(const std::string& path, bool text_mode);

// A regular file read whole, opened as OpenRegularFile opens it, in the
// platform's text mode when text_mode is set. The buffer holds `length`
// bytes and a terminating zero. A file of more than max_bytes on disk is
// not read at all.
enum class ReadWholeResult {
  kRead,
  kCannotOpen,  // missing, not a regular file, or not allowed
  kNoMemory,    // no buffer for the file's size
  kCannotRead,  // the file has bytes, yet none could be read
  kTooLarge,    // more than max_bytes
};
ReadWholeResult ReadWholeRegularFile(const std::string& path, bool text_mode,
                                     size_t max_bytes,
                                     std::unique_ptr<char[]>* data,
                                     size_t* length);
// Reads up to `size` bytes from the start of a regular file, untranslated;
// -1 when it cannot be opened (as OpenRegularFile).
long ReadRegularFilePrefix(const std::string& path, void* buffer, size_t size);

// Calls visit with the name of every entry of the folder (an empty folder
// means the current directory) whose name ends with the extension, compared
// without regard to letter case: files, folders, hidden and system entries,
// in the order the file system gives them. False when the folder cannot be
// listed.
bool ForEachWithExtension(const std::string& folder,
                          const std::string& extension,
                          const std::function<void(const char* name)>& visit);

}  // namespace corvana::platform
