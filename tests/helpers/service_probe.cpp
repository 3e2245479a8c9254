// Looks at the Windows build from outside, for the reliability tests under
// Wine, where GetProcessHandleCount gives 0 and sc is too slow to time a
// stop with:
//   service_probe handles <image>  one line "<process id> <handles>" for
//                                  every process of that image name, the
//                                  handles counted in the system's handle
//                                  table (SystemHandleInformation)
//   service_probe count <image>    how many processes of that image run
//   service_probe start <service>  starts it and waits for running
//   service_probe stop <service>   asks it to stop and waits for stopped
//   service_probe states <service> asks it to stop and prints every state it
//                                  reports until stopped, one line each:
//                                  "<state> <checkpoint> <wait hint ms>"
//   service_probe version <file>   from the file's version resource: the
//                                  file and product versions ("a.b.c.d"),
//                                  ProductName and FileDescription, one
//                                  "<name> <value>" line each
//   service_probe messages <file> <id>...  each id's text from the file's
//                                  message table, as FormatMessage gives it
//                                  with the strings <1>, <2>, ...: one
//                                  "<id> <text>" line each
// start and stop print the milliseconds from the request to the state; a
// second thread sends the stop, because the call returns only when the
// control handler does, and the stopped state may come before that.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr double kStateTimeoutMs = 20000;

struct HandleEntry {
  USHORT owner_process_id;  // the low 16 bits of the owner's id
  USHORT creator_back_trace_index;
  UCHAR object_type_index;
  UCHAR attributes;
  USHORT value;
  PVOID object;
  ULONG granted_access;
};

struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

std::vector<DWORD> ProcessesNamed(const char* image) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more;
       more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, image) == 0) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

// The whole system's handle table; empty when it cannot be had.
std::vector<char> SystemHandles() {
  auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<char> buffer(1 << 20);
  while (query != nullptr) {
    ULONG needed = 0;
    LONG status = query(kSystemHandleInformation, buffer.data(),
                        static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) return buffer;
    if (status != kInfoLengthMismatch) break;
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

int PrintHandles(const char* image) {
  const std::vector<char> table = SystemHandles();
  if (table.empty()) return 2;
  const auto* handles = reinterpret_cast<const HandleTable*>(table.data());
  for (DWORD id : ProcessesNamed(image)) {
    unsigned count = 0;
    for (ULONG i = 0; i < handles->count; ++i) {
      if (handles->entries[i].owner_process_id == static_cast<USHORT>(id)) ++count;
    }
    std::printf("%lu %u\n", static_cast<unsigned long>(id), count);
  }
  return 0;
}

double NowMs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Polls until the service reports the state; the milliseconds since
// `started_ms`, or -1 after the timeout.
double WaitForState(SC_HANDLE service, DWORD state, double started_ms) {
  SERVICE_STATUS status{};
  while (NowMs() - started_ms < kStateTimeoutMs) {
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == state) {
      return NowMs() - started_ms;
    }
    Sleep(1);
  }
  return -1;
}

int Control(const char* verb, const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return 2;
  SC_HANDLE service = OpenServiceA(manager, name,
                                   SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (service == nullptr) {
    CloseServiceHandle(manager);
    return 2;
  }
  const bool stop = std::strcmp(verb, "stop") == 0;
  const double started_ms = NowMs();
  double elapsed_ms = -1;
  if (stop) {
    std::thread sender([service] {
      SERVICE_STATUS ignored{};
      ControlService(service, SERVICE_CONTROL_STOP, &ignored);
    });
    elapsed_ms = WaitForState(service, SERVICE_STOPPED, started_ms);
    sender.join();
  } else if (StartServiceA(service, 0, nullptr)) {
    elapsed_ms = WaitForState(service, SERVICE_RUNNING, started_ms);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (elapsed_ms < 0) return 1;
  std::printf("%.1f\n", elapsed_ms);
  return 0;
}

// Every change of the reported status, from the stop request to stopped.
// Wine answers no query on a handle while a control on it is under way, so
// the stop goes through a handle of its own.
int PrintStopStates(SC_HANDLE manager, const char* name) {
  SC_HANDLE stopper = OpenServiceA(manager, name, SERVICE_STOP);
  SC_HANDLE watcher = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  if (stopper == nullptr || watcher == nullptr) {
    if (stopper != nullptr) CloseServiceHandle(stopper);
    if (watcher != nullptr) CloseServiceHandle(watcher);
    return 2;
  }
  std::thread sender([stopper] {
    SERVICE_STATUS ignored{};
    ControlService(stopper, SERVICE_CONTROL_STOP, &ignored);
  });
  const double started_ms = NowMs();
  SERVICE_STATUS last{};
  SERVICE_STATUS status{};
  while (NowMs() - started_ms < kStateTimeoutMs) {
    if (QueryServiceStatus(watcher, &status) &&
        (status.dwCurrentState != last.dwCurrentState ||
         status.dwCheckPoint != last.dwCheckPoint)) {
      std::printf("%lu %lu %lu\n", status.dwCurrentState, status.dwCheckPoint,
                  status.dwWaitHint);
      last = status;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) break;
    Sleep(1);
  }
  sender.join();
  CloseServiceHandle(stopper);
  CloseServiceHandle(watcher);
  return status.dwCurrentState == SERVICE_STOPPED ? 0 : 1;
}

int PrintStates(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return 2;
  const int result = PrintStopStates(manager, name);
  CloseServiceHandle(manager);
  return result;
}

const char* StringValue(std::vector<char>& data, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return "";
  }
  return value;
}

int PrintFileVersion(const char* file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  if (size == 0) return 2;
  std::vector<char> data(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(file, 0, size, data.data()) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr) {
    return 2;
  }
  std::printf("FileVersion %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
              LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
              LOWORD(fixed->dwFileVersionLS));
  std::printf("ProductVersion %u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
              LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
              LOWORD(fixed->dwProductVersionLS));
  for (const char* name : {"ProductName", "FileDescription"}) {
    std::printf("%s %s\n", name, StringValue(data, name));
  }
  return 0;
}

}  // namespace

int PrintMessages(const char* file, int count, char** ids) {
  HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return 1;
  static const char* kStrings[] = {"<1>", "<2>", "<3>", "<4>", "<5>",
                                   "<6>", "<7>", "<8>", "<9>"};
  DWORD_PTR arguments[9];
  for (int i = 0; i < 9; ++i) arguments[i] = reinterpret_cast<DWORD_PTR>(kStrings[i]);
  int missing = 0;
  for (int i = 0; i < count; ++i) {
    char text[1024];
    const DWORD id = std::strtoul(ids[i], nullptr, 10);
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id,
        0, text, sizeof text, reinterpret_cast<va_list*>(arguments));
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
    if (length == 0) ++missing;
    std::printf("%lu %.*s\n", static_cast<unsigned long>(id), static_cast<int>(length), text);
  }
  FreeLibrary(module);
  return missing == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "handles") == 0) return PrintHandles(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "count") == 0) {
    std::printf("%zu\n", ProcessesNamed(argv[2]).size());
    return 0;
  }
  if (argc == 3 && (std::strcmp(argv[1], "start") == 0 || std::strcmp(argv[1], "stop") == 0)) {
    return Control(argv[1], argv[2]);
  }
  if (argc == 3 && std::strcmp(argv[1], "states") == 0) return PrintStates(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "version") == 0) return PrintFileVersion(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "messages") == 0) {
    return PrintMessages(argv[2], argc - 3, argv + 3);
  }
  std::fprintf(stderr, "usage: service_probe handles|count <image> | start|stop|states <service> | version <file> | messages <file> <id>...\n");
  return 2;
}
