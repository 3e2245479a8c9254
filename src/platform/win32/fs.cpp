#include "platform/fs.h"

#include <windows.h>

#include <new>

#include <cstring>

namespace corvana::platform {

bool MakeDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
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
                                     std::unique_ptr<char[]>* data,
                                     size_t* length) {
  std::FILE* file = OpenRegularFile(path, text_mode);
  if (file == nullptr) return ReadWholeResult::kCannotOpen;
  // In text mode the size on disk is an upper bound of what arrives.
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  if (size < 0) size = 0;  // unknown size reads as nothing below
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
