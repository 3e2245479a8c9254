#include "platform/fs.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <new>

#include <cstring>

namespace corvana::platform {

bool MakeDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

namespace {

// A reparse point is opened as itself, never followed; one that turns out
// to be a link, or a file with further names, is refused.
HANDLE OpenOwnHandle(const std::string& path, DWORD access, DWORD share,
                     DWORD flags) {
  HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | flags,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks != 1) {
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

}  // namespace

std::FILE* OpenOwnFile(const std::string& path, OwnFileMode mode) {
  HANDLE handle = OpenOwnHandle(path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const bool append = mode == OwnFileMode::kAppend;
  if (!append && !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                 _O_TEXT | (append ? _O_APPEND : 0));
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, append ? "a+" : "w+");
  if (file == nullptr) _close(fd);
  return file;
}

bool AppendToOwnFile(const std::string& path, const char* text, bool newline) {
  std::FILE* file = OpenOwnFile(path, OwnFileMode::kAppend);
  if (file == nullptr) return false;
  std::fprintf(file, newline ? "%s\n" : "%s", text);
  std::fclose(file);
  return true;
}

bool ProbeOwnFile(const std::string& path) {
  HANDLE handle = OpenOwnHandle(path, GENERIC_WRITE | DELETE, 0,
                                FILE_FLAG_DELETE_ON_CLOSE);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

bool PathExists(const std::string& path) {
  // A directory search with the path as its pattern: files and folders alike.
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  // Children are started without handle inheritance, so the C runtime's
  // handles never reach them.
  return std::fopen(path.c_str(), mode);
}

std::FILE* OpenRegularFile(const std::string& path, bool text_mode) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return nullptr;
  }
  // Text mode: CR LF arrives as LF and Ctrl-Z ends the text.
  return std::fopen(path.c_str(), text_mode ? "r" : "rb");
}

ReadWholeResult ReadWholeRegularFile(const std::string& path, bool text_mode,
                                     size_t max_bytes,
                                     std::unique_ptr<char[]>* data,
                                     size_t* length) {
  std::FILE* file = OpenRegularFile(path, text_mode);
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

long ReadRegularFilePrefix(const std::string& path, void* buffer, size_t size) {
  std::FILE* file = OpenRegularFile(path, false);
  if (file == nullptr) return -1;
  const size_t got = std::fread(buffer, 1, size, file);
  std::fclose(file);
  return static_cast<long>(got);
}

bool ForEachWithExtension(const std::string& folder,
                          const std::string& extension,
                          const std::function<void(const char* name)>& visit) {
  const std::string pattern = folder + "*" + extension;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    // The pattern also matches 8.3 short names; keep what the long name ends
    // with, as the listing on other systems does.
    size_t length = std::strlen(data.cFileName);
    if (length >= extension.size() &&
        _stricmp(data.cFileName + length - extension.size(),
                 extension.c_str()) == 0) {
      visit(data.cFileName);
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return true;
}

}  // namespace corvana::platform
