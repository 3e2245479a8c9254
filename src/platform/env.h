// Environment variables, the shell's data folders and the process's own
// location. Folders are returned without a trailing separator.
#pragma once

#include <optional>
#include <string>

namespace corvana::platform {

// '\\' on Windows, '/' elsewhere. Paths are still built by concatenation.
extern const char kPathSeparator;
// Windows gives names and paths in the ANSI code page, where a byte from
// 0x80 up that starts no UTF-8 sequence is a printable character of its own
// (the euro sign, curly quotes); elsewhere such a byte is broken UTF-8.
extern const bool kLoneHighBytesArePrintable;

std::optional<std::string> GetEnv(const char* name);
// The data folder shared by every user of the machine (POSIX: $PROGRAMDATA,
// else /var/lib). Empty when the system names none. Never created here.
std::string CommonAppDataFolder();
// The calling user's own data folder (POSIX: $XDG_DATA_HOME, else
// $HOME/.local/share).
std::string UserAppDataFolder();
std::string CurrentDirectory();
// Full path of the running executable; empty when it cannot be had.
std::string ExecutablePath();
// The folder of the running executable, the one folder here that ends with
// the separator, so that a file name can follow; empty when the path names
// no folder.
std::string ExecutableFolder();

}  // namespace corvana::platform
