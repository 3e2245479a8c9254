#include "platform/service.h"

#include <windows.h>

namespace corvana::platform {

const char kSchedulerExecutableName[] = "scheduler.exe";
const char kServiceManagerUnavailableText[] = "Run as an administrator";

namespace {

// The access each operation asks for.
constexpr DWORD kCreateManagerAccess = 0x2;        // SC_MANAGER_CREATE_SERVICE
constexpr DWORD kAllManagerAccess = 0xF003F;       // SC_MANAGER_ALL_ACCESS
constexpr DWORD kStopManagerAccess = 0x24;
constexpr DWORD kServiceAllAccess = 0xF01FF;       // SERVICE_ALL_ACCESS
constexpr DWORD kServiceStartAccess = 0x10;        // SERVICE_START
constexpr DWORD kServiceStopAccess = 0x20;         // SERVICE_STOP
constexpr DWORD kServiceDeleteAccess = 0x10000;    // DELETE
// SERVICE_CHANGE_CONFIG, and SERVICE_START, which restart actions need.
constexpr DWORD kServiceConfigureAccess = 0x0002 | 0x0010;
constexpr DWORD kMsPerSecond = 1000;

ServiceMainFunction service_main_function = nullptr;
ControlHandlerFunction control_handler_function = nullptr;

// Set when the service's main function has returned.
HANDLE service_main_ended = nullptr;
constexpr DWORD kServiceMainEndWaitMs = 30000;

VOID WINAPI ServiceMainTrampoline(DWORD, LPSTR*) {
  service_main_function();
  SetEvent(service_main_ended);
}

ServiceControl ControlOf(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP: return ServiceControl::kStop;
    case SERVICE_CONTROL_SHUTDOWN: return ServiceControl::kShutdown;
    default: return ServiceControl::kOther;
  }
}

VOID WINAPI HandlerTrampoline(DWORD control) {
  control_handler_function(ControlOf(control));
}

DWORD StateOf(ServiceState state) {
  switch (state) {
    case ServiceState::kStartPending: return SERVICE_START_PENDING;
    case ServiceState::kRunning: return SERVICE_RUNNING;
    case ServiceState::kStopPending: return SERVICE_STOP_PENDING;
    case ServiceState::kStopped: return SERVICE_STOPPED;
  }
  return SERVICE_STOPPED;
}

ServiceError ServiceErrorOf(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: return ServiceError::kAccessDenied;
    case ERROR_SERVICE_DOES_NOT_EXIST: return ServiceError::kNoSuchService;
    case ERROR_SERVICE_EXISTS: return ServiceError::kServiceExists;
    case ERROR_SERVICE_ALREADY_RUNNING: return ServiceError::kAlreadyRunning;
    default: return ServiceError::kOther;
  }
}

void Fail(const char* call, ServiceResult* result) {
  result->native_error = GetLastError();
  result->error = ServiceErrorOf(result->native_error);
  result->failed_call = call;
}

// The manager's handle, and the service's when a name is given. Both are
// closed on every path, failures included.
class ScmHandles {
 public:
  ScmHandles(DWORD manager_access, const std::string& name,
             DWORD service_access, ServiceResult* result) {
    manager_ = OpenSCManagerA(nullptr, nullptr, manager_access);
    if (manager_ == nullptr) {
      Fail("OpenSCManagerA", result);
      return;
    }
    result->manager_opened = true;
    if (name.empty()) return;
    service_ = OpenServiceA(manager_, name.c_str(), service_access);
    if (service_ == nullptr) {
      Fail("OpenServiceA", result);
      return;
    }
    result->service_opened = true;
  }
  ~ScmHandles() {
    if (service_ != nullptr) CloseServiceHandle(service_);
    if (manager_ != nullptr) CloseServiceHandle(manager_);
  }
  ScmHandles(const ScmHandles&) = delete;
  ScmHandles& operator=(const ScmHandles&) = delete;
  SC_HANDLE manager() const { return manager_; }
  SC_HANDLE service() const { return service_; }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

void Finish(const char* call, BOOL ok, ServiceResult* result) {
  result->succeeded = ok != 0;
  if (!ok) Fail(call, result);
}

struct ErrorText {
  DWORD code;
  const char* text;
};

constexpr ErrorText kCreateErrors[] = {
    {ERROR_ACCESS_DENIED, "Error: ERROR_ACCESS_DENIED"},
    {ERROR_INVALID_HANDLE, "Error: ERROR_INVALID_HANDLE"},
    {ERROR_INVALID_PARAMETER, "Error: ERROR_INVALID_PARAMETER"},
    {ERROR_INVALID_NAME, "Error: ERROR_INVALID_NAME"},
    {ERROR_INVALID_SERVICE_ACCOUNT, "Error: ERROR_INVALID_SERVICE_ACCOUNT"},
    {ERROR_CIRCULAR_DEPENDENCY, "Error: ERROR_CIRCULAR_DEPENDENCY"},
    {ERROR_DUPLICATE_SERVICE_NAME, "Error: ERROR_DUPLICATE_SERVICE_NAME"},
};

constexpr ErrorText kStartErrors[] = {
    {ERROR_PATH_NOT_FOUND, "Error: ERROR_PATH_NOT_FOUND"},
    {ERROR_ACCESS_DENIED, "Error: ERROR_ACCESS_DENIED"},
    {ERROR_INVALID_HANDLE, "Error: ERROR_INVALID_HANDLE"},
    {ERROR_SERVICE_REQUEST_TIMEOUT, "Error: ERROR_SERVICE_REQUEST_TIMEOUT"},
    {ERROR_SERVICE_NO_THREAD, "Error: ERROR_SERVICE_NO_THREAD"},
    {ERROR_SERVICE_DATABASE_LOCKED, "Error: ERROR_SERVICE_DATABASE_LOCKED"},
    {ERROR_SERVICE_ALREADY_RUNNING, "Error: ERROR_SERVICE_ALREADY_RUNNING"},
    {ERROR_SERVICE_DISABLED, "Error: ERROR_SERVICE_DISABLED"},
    {ERROR_SERVICE_DEPENDENCY_FAIL, "Error: ERROR_SERVICE_DEPENDENCY_FAIL"},
    {ERROR_SERVICE_LOGON_FAILED, "Error: ERROR_SERVICE_LOGON_FAILED"},
    {ERROR_SERVICE_MARKED_FOR_DELETE, "Error: ERROR_SERVICE_MARKED_FOR_DELETE"},
    {ERROR_SERVICE_DEPENDENCY_DELETED, "Error: ERROR_SERVICE_DEPENDENCY_DELETED"},
};

template <size_t N>
const char* Lookup(const ErrorText (&table)[N], uint32_t code) {
  for (const ErrorText& entry : table) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

}  // namespace

bool RunServiceDispatcher(const char* service_name,
                          ServiceMainFunction service_main) {
  service_main_function = service_main;
  service_main_ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYA table[] = {
      {const_cast<LPSTR>(service_name), &ServiceMainTrampoline},
      {nullptr, nullptr}};
  const bool dispatched = StartServiceCtrlDispatcherA(table) != 0;
  // The dispatcher returns as soon as the service reports stopped, and the
  // process would then end while the main function still destroys the
  // engine (its last quit command and log lines). Wait for it to return.
  if (dispatched && service_main_ended != nullptr) {
    WaitForSingleObject(service_main_ended, kServiceMainEndWaitMs);
  }
  if (service_main_ended != nullptr) CloseHandle(service_main_ended);
  return dispatched;
}

StatusHandle RegisterControlHandler(const char* service_name,
                                    ControlHandlerFunction handler) {
  control_handler_function = handler;
  return reinterpret_cast<StatusHandle>(
      RegisterServiceCtrlHandlerA(service_name, &HandlerTrampoline));
}

bool ReportServiceStatus(StatusHandle handle, const ServiceStatus& status) {
  SERVICE_STATUS native{};
  native.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  native.dwCurrentState = StateOf(status.state);
  native.dwControlsAccepted =
      status.accepts_stop ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  native.dwWin32ExitCode = NO_ERROR;
  native.dwCheckPoint = status.checkpoint;
  native.dwWaitHint = status.wait_hint_ms;
  return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle),
                          &native) != 0;
}

void RestrictLibrarySearch() {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 |
                           LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
}

ServiceResult RegisterService(const std::string& command_line,
                              const std::string& name,
                              const std::string& display_name) {
  ServiceResult result;
  ScmHandles handles(kCreateManagerAccess, "", 0, &result);
  if (!result.manager_opened) return result;
  SC_HANDLE service = CreateServiceA(
      handles.manager(), name.c_str(), display_name.c_str(),
      kServiceAllAccess, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, command_line.c_str(), nullptr, nullptr, nullptr,
      nullptr, nullptr);
  Finish("CreateServiceA", service != nullptr, &result);
  if (service != nullptr) CloseServiceHandle(service);
  return result;
}

ServiceResult ConfigureServiceRecovery(const std::string& name,
                                       const std::string& description) {
  ServiceResult result;
  ScmHandles handles(kAllManagerAccess, name, kServiceConfigureAccess, &result);
  if (!result.service_opened) return result;
  std::string text = description;
  SERVICE_DESCRIPTIONA described{text.data()};
  if (!ChangeServiceConfig2A(handles.service(), SERVICE_CONFIG_DESCRIPTION,
                             &described)) {
    Finish("ChangeServiceConfig2A", FALSE, &result);
    return result;
  }
  // The last action repeats for every later failure: after the two
  // restarts, nothing more until the count is reset.
  SC_ACTION actions[kRestartsAfterFailure + 1];
  for (uint32_t i = 0; i < kRestartsAfterFailure; ++i) {
    actions[i] = {SC_ACTION_RESTART, kRestartDelayS * kMsPerSecond};
  }
  actions[kRestartsAfterFailure] = {SC_ACTION_NONE, 0};
  SERVICE_FAILURE_ACTIONSA failure{};
  failure.dwResetPeriod = kFailureResetPeriodS;
  failure.cActions = kRestartsAfterFailure + 1;
  failure.lpsaActions = actions;
  Finish("ChangeServiceConfig2A",
         ChangeServiceConfig2A(handles.service(),
                               SERVICE_CONFIG_FAILURE_ACTIONS, &failure),
         &result);
  return result;
}

ServiceResult StartRegisteredService(const std::string& name) {
  ServiceResult result;
  ScmHandles handles(kAllManagerAccess, name, kServiceStartAccess, &result);
  if (!result.service_opened) return result;
  Finish("StartServiceA", StartServiceA(handles.service(), 0, nullptr),
         &result);
  return result;
}

ServiceResult StopRegisteredService(const std::string& name) {
  ServiceResult result;
  ScmHandles handles(kStopManagerAccess, name, kServiceStopAccess, &result);
  if (!result.service_opened) return result;
  SERVICE_STATUS status;
  Finish("ControlService",
         ControlService(handles.service(), SERVICE_CONTROL_STOP, &status),
         &result);
  return result;
}

ServiceResult RemoveService(const std::string& name) {
  ServiceResult result;
  ScmHandles handles(kAllManagerAccess, name, kServiceDeleteAccess, &result);
  if (!result.service_opened) return result;
  Finish("DeleteService", DeleteService(handles.service()), &result);
  return result;
}

std::string CreateFailureText(const ServiceResult& result) {
  const char* text = Lookup(kCreateErrors, result.native_error);
  return text ? text : "";
}

std::string FailureText(const ServiceResult& result) {
  const char* text = Lookup(kStartErrors, result.native_error);
  return text ? text : "Error # " + std::to_string(result.native_error);
}

}  // namespace corvana::platform
