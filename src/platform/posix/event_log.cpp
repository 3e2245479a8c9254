#include "platform/event_log.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvana::platform {
namespace {

constexpr char kSystemSocket[] = "/dev/log";
// journald and rsyslog take at least this much in one datagram.
constexpr size_t kMaxTextBytes = 1900;

int Severity(EventLevel level) {
  switch (level) {
    case EventLevel::kError: return LOG_ERR;
    case EventLevel::kWarning: return LOG_WARNING;
    case EventLevel::kInformation: return LOG_INFO;
  }
  return LOG_NOTICE;
}

// The traditional syslog line, which journald reads like syslog(3)'s own:
// "<priority>Mmm dd hh:mm:ss ident[pid]: [id] text". The id heads the text,
// where a filter finds it, since syslog has no field of its own for it.
// syslog(3) itself is not used: its ident is process-wide, and it may block
// on a full socket.
std::string Datagram(EventLevel level, uint32_t event_id, const std::string& text) {
  const time_t now = time(nullptr);
  struct tm local {};
  char stamp[32] = "";
  if (localtime_r(&now, &local) != nullptr) {
    strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
  }
  char head[96];
  std::snprintf(head, sizeof head, "<%d>%s %s[%ld]: [%u] ", LOG_DAEMON | Severity(level),
                stamp, kEventSourceName, static_cast<long>(getpid()),
                static_cast<unsigned>(event_id));
  return head + text.substr(0, kMaxTextBytes);
}

}  // namespace

FailedCall ReportSystemEvent(const std::string& log_address, EventLevel level,
                             uint32_t event_id, const std::vector<std::string>&,
                             const std::string& text) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = log_address.empty() ? kSystemSocket : log_address;
  if (path.size() >= sizeof address.sun_path) return {"sendto", ENAMETOOLONG};
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socket_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_fd < 0) return {"socket", errno};
  const std::string datagram = Datagram(level, event_id, text);
  const ssize_t sent = sendto(socket_fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                              reinterpret_cast<const sockaddr*>(&address),
                              sizeof address);
  // A datagram goes whole or not at all.
  const FailedCall failure =
      sent < 0 ? FailedCall{"sendto", errno} : FailedCall{};
  close(socket_fd);
  return failure;
}

bool RefusalMayPass(const FailedCall& failure) {
  return failure.native_error == EAGAIN || failure.native_error == EWOULDBLOCK ||
         failure.native_error == ENOBUFS || failure.native_error == EINTR;
}

EventSourceResult RegisterEventLogSource(const std::string&) { return {}; }
EventSourceResult RemoveEventLogSource() { return {}; }
EventSourceState QueryEventLogSource() {
  struct stat info;
  if (stat(kSystemSocket, &info) != 0 || !S_ISSOCK(info.st_mode)) {
    return EventSourceState::kNoReceiver;
  }
  return EventSourceState::kNoRegistration;
}

}  // namespace corvana::platform
