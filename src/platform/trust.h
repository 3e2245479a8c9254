// Whether a program that the service would run as the system can have been
// put there, or changed, by an account other than the administrators'.
// Every answer comes from handles opened without following links, never from
// a second lookup by name, and the handles can be held until the program
// has been started.
#pragma once

#include <memory>
#include <string>

#include "platform/fs.h"

namespace corvana::platform {

enum class TrustVerdict {
  kTrusted,
  kMissing,      // the file or its folder does not exist
  kLink,         // the file, its folder or the home folder is a link
  kWrongType,    // the file is no regular file, or a folder is no folder
  kWrongOwner,   // owned by an account that is not trusted
  kChangeable,   // another account can change the file or its folder
  kRemovable,    // another account can move the folder out of the home
  // An entry beside the program that it would load (`entry`) is a link,
  // owned by an untrusted account, or changeable by another account.
  kLoadsUntrusted,
  kCannotCheck,  // an OS call failed; `detail` names it
  // Another program holds it open without sharing it, or an oplock on it is
  // being broken: not now, worth asking again later (Windows only).
  kInUse,
};

struct TrustResult {
  TrustVerdict verdict = TrustVerdict::kCannotCheck;
  // The failing OS call and its native error code, for kCannotCheck.
  std::string detail;
  // The name of the entry, for kLoadsUntrusted, and for kInUse when it is
  // an entry beside the program that is held.
  std::string entry;
};

// Whether the loader of a Windows program could take this entry of the
// program's own folder into it: a "*.dll", or the program's name followed
// by ".local" (DLL redirection, a file or a folder), ".manifest" or
// ".config". Without regard to letter case. The loader finds a file by its
// short name too, so Windows asks this for both names of an entry.
bool IsLoadableBeside(const std::string& entry, const std::string& program);

// The open home folder, program folder and program of the last check. On
// Windows the program stays open denying writes and deletion, and the
// folders denying deletion, for as long as this lives.
class HeldProgram {
 public:
  HeldProgram();
  ~HeldProgram();
  HeldProgram(const HeldProgram&) = delete;
  HeldProgram& operator=(const HeldProgram&) = delete;

  struct Handles;
  Handles& handles() { return *handles_; }
  const Handles& handles() const { return *handles_; }

 private:
  std::unique_ptr<Handles> handles_;
};

// Whose files the service may run or write in: those of the system and the
// administrators always, and those of the account it runs as. A tool that
// asks on the service's behalf names the service's account, as the system.
enum class ServiceAccount {
  kThisProcess,  // the service itself: this process's account
  kSystem,       // SYSTEM on Windows, root on POSIX
};

// Opens the data folder `home` (ending with the platform's separator)
// without following a link and keeps it in `held`. Trusted means: a real
// folder, not a link, junction or other reparse point, owned by the system,
// the administrators, TrustedInstaller or the service's account (POSIX:
// root or the service's user); on POSIX every folder above it up to the
// root is owned by root or the service's user and writable by no group or
// other unless sticky (kRemovable otherwise). Others may write into `home`
// itself: definitions are theirs.
TrustResult CheckHomeFolder(const std::string& home, ServiceAccount account,
                            HeldFolder* held);

// The reason phrase of a verdict, as the log lines give it after a path:
// "is reached through a link", ...; empty for kTrusted.
std::string TrustReason(const TrustResult& result);

// Checks home + folder + separator + file. `home` is empty (the current
// directory) or ends with the platform's separator. Trusted means: none of
// the three is a link; all three are owned by the system, the
// administrators, TrustedInstaller or the account this process runs as
// (POSIX: root or this process's user), the service's account being
// `account`; no other account can change the file or the folder; and no
// other account can move the folder out of the home (POSIX: a home writable
// by group or others needs the sticky bit, and the folders above the home
// pass CheckHomeFolder's test); and every entry of the folder that
// IsLoadableBeside the file passes the same owner and rights checks and is
// no link.
TrustResult CheckProgramTrust(const std::string& home,
                              const std::string& folder,
                              const std::string& file, ServiceAccount account,
                              HeldProgram* held);

// The three kinds of object the check judges, each by rights of its own.
enum class TrustedObject { kHome, kFolder, kFile };

}  // namespace corvana::platform
