#include "platform/event_log.h"

#include <windows.h>

namespace corvana::platform {
namespace {

std::string SourceKey() {
  return std::string(
             "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") +
         kEventSourceName;
}

constexpr DWORD kTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

WORD EventType(EventLevel level) {
  switch (level) {
    case EventLevel::kError: return EVENTLOG_ERROR_TYPE;
    case EventLevel::kWarning: return EVENTLOG_WARNING_TYPE;
    case EventLevel::kInformation: return EVENTLOG_INFORMATION_TYPE;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

EventSourceResult Failed(const char* call, LSTATUS status) {
  return {false, call, static_cast<uint32_t>(status)};
}

// The path is stored expandable, as Event Viewer expects of message files.
EventSourceResult WriteSourceValues(HKEY key, const std::string& message_file) {
  LSTATUS status = RegSetValueExA(
      key, "EventMessageFile", 0, REG_EXPAND_SZ,
      reinterpret_cast<const BYTE*>(message_file.c_str()),
      static_cast<DWORD>(message_file.size() + 1));
  if (status != ERROR_SUCCESS) return Failed("RegSetValueExA", status);
  status = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&kTypesSupported),
                          sizeof kTypesSupported);
  if (status != ERROR_SUCCESS) return Failed("RegSetValueExA", status);
  return {};
}

}  // namespace

// ANSI calls: the texts are in the ANSI code page throughout, and the
// system converts them with that very page.
FailedCall ReportSystemEvent(const std::string& log_address, EventLevel level,
                             uint32_t event_id,
                             const std::vector<std::string>& strings,
                             const std::string&) {
  HANDLE source = RegisterEventSourceA(
      log_address.empty() ? nullptr : log_address.c_str(), kEventSourceName);
  if (source == nullptr) {
    return {"RegisterEventSourceA", static_cast<int64_t>(GetLastError())};
  }
  std::vector<const char*> pointers;
  for (const std::string& text : strings) pointers.push_back(text.c_str());
  const BOOL reported = ReportEventA(
      source, EventType(level), 0, event_id, nullptr,
      static_cast<WORD>(pointers.size()), 0,
      pointers.empty() ? nullptr : pointers.data(), nullptr);
  const FailedCall failure =
      reported ? FailedCall{}
               : FailedCall{"ReportEventA", static_cast<int64_t>(GetLastError())};
  DeregisterEventSource(source);
  return failure;
}

// The Event Log service is always there; a refusal is it being busy,
// restarted or cleared.
bool RefusalMayPass(const FailedCall&) { return true; }

EventSourceResult RegisterEventLogSource(const std::string& message_file) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LSTATUS status = RegCreateKeyExA(
      HKEY_LOCAL_MACHINE, SourceKey().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
      KEY_SET_VALUE, nullptr, &key, &disposition);
  if (status != ERROR_SUCCESS) return Failed("RegCreateKeyExA", status);
  EventSourceResult result;
  if (disposition == REG_CREATED_NEW_KEY) {
    result = WriteSourceValues(key, message_file);
  }
  RegCloseKey(key);
  return result;
}

EventSourceResult RemoveEventLogSource() {
  const LSTATUS status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, SourceKey().c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    return Failed("RegDeleteKeyA", status);
  }
  return {};
}

EventSourceState QueryEventLogSource() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SourceKey().c_str(), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return EventSourceState::kNotRegistered;
  }
  RegCloseKey(key);
  return EventSourceState::kRegistered;
}

}  // namespace corvana::platform
