#include "service/service_install.h"

#include <atomic>

#include "environment/app_context.h"
#include "logging/log.h"
#include "platform/env.h"
#include "platform/service.h"

namespace corvana {
namespace {

constexpr ServiceManagerSeam kSystemServiceManager = {
    &platform::ScmCreateService, &platform::ScmConfigureRecovery,
    &platform::ScmStartService, &platform::ScmStopService,
    &platform::ScmDeleteService};
std::atomic<const ServiceManagerSeam*> service_manager{&kSystemServiceManager};

const ServiceManagerSeam& Manager() { return *service_manager.load(); }

struct ErrorText {
  uint32_t code;
  const char* text;
};

constexpr ErrorText kCreateErrors[] = {
    {5, "Error: ERROR_ACCESS_DENIED"},
    {6, "Error: ERROR_INVALID_HANDLE"},
    {87, "Error: ERROR_INVALID_PARAMETER"},
    {123, "Error: ERROR_INVALID_NAME"},
    {1057, "Error: ERROR_INVALID_SERVICE_ACCOUNT"},
    {1059, "Error: ERROR_CIRCULAR_DEPENDENCY"},
    {1078, "Error: ERROR_DUPLICATE_SERVICE_NAME"},
};

constexpr ErrorText kStartErrors[] = {
    {3, "Error: ERROR_PATH_NOT_FOUND"},
    {5, "Error: ERROR_ACCESS_DENIED"},
    {6, "Error: ERROR_INVALID_HANDLE"},
    {1053, "Error: ERROR_SERVICE_REQUEST_TIMEOUT"},
    {1054, "Error: ERROR_SERVICE_NO_THREAD"},
    {1055, "Error: ERROR_SERVICE_DATABASE_LOCKED"},
    {1056, "Error: ERROR_SERVICE_ALREADY_RUNNING"},
    {1058, "Error: ERROR_SERVICE_DISABLED"},
    {1068, "Error: ERROR_SERVICE_DEPENDENCY_FAIL"},
    {1069, "Error: ERROR_SERVICE_LOGON_FAILED"},
    {1072, "Error: ERROR_SERVICE_MARKED_FOR_DELETE"},
    {1075, "Error: ERROR_SERVICE_DEPENDENCY_DELETED"},
};

template <size_t N>
const char* Lookup(const ErrorText (&table)[N], uint32_t code) {
  for (const ErrorText& entry : table) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

}  // namespace

std::string CreateErrorText(uint32_t error) {
  const char* text = Lookup(kCreateErrors, error);
  return text ? text : "";
}

std::string StartErrorText(uint32_t error) {
  const char* text = Lookup(kStartErrors, error);
  return text ? text : "Error # " + std::to_string(error);
}

std::string ServiceCommandLine(const std::string& folder) {
  return "\"" + folder + platform::kPathSeparator +
         platform::kSchedulerExecutableName + "\" " + kServiceArgument;
}

namespace {

// Kept for the person who ran the command: the log is not open here.
void Keep(InstallErrors* errors, const std::string& text, uint32_t error) {
  if (errors == nullptr) return;
  errors->texts.push_back(text);
  errors->last_error = error;
}

// The table's texts are logged as they always were, and kept.
void Note(InstallErrors* errors, const std::string& text, uint32_t error) {
  WriteLog(text, kLogInstallError);
  Keep(errors, text, error);
}

// A manager or a service that cannot be opened fails before the operation
// itself, which logs nothing; the person still needs to hear about it.
bool KeepUnopened(const platform::ScmResult& result, InstallErrors* errors) {
  if (!result.manager_opened) {
    Keep(errors, platform::kServiceManagerUnavailableText, result.error);
    if (errors != nullptr) errors->manager_unavailable = true;
    return true;
  }
  if (!result.service_opened) {
    Keep(errors, StartErrorText(result.error), result.error);
    return true;
  }
  return false;
}

}  // namespace

void SetServiceManagerSeam(const ServiceManagerSeam* seam) {
  service_manager.store(seam ? seam : &kSystemServiceManager);
}

bool CreateServiceEntry(const std::string& command_line,
                        const std::string& name,
                        const std::string& display_name,
                        InstallErrors* errors) {
  const platform::ScmResult result =
      Manager().create_service(command_line, name, display_name);
  // Creating opens no service, only the manager.
  if (!result.manager_opened) {
    KeepUnopened(result, errors);
    return false;
  }
  if (result.succeeded) return true;
  const std::string text = CreateErrorText(result.error);
  if (!text.empty()) Note(errors, text, result.error);
  return false;
}

bool StartServiceByName(const std::string& name, InstallErrors* errors) {
  const platform::ScmResult result = Manager().start_service(name);
  if (KeepUnopened(result, errors)) return false;
  if (!result.succeeded) Note(errors, StartErrorText(result.error), result.error);
  return result.succeeded;
}

bool StopServiceByName(const std::string& name) {
  return Manager().stop_service(name).succeeded;
}

bool DeleteServiceEntry(const std::string& name, InstallErrors* errors) {
  StopServiceByName(name);
  const platform::ScmResult result = Manager().delete_service(name);
  if (!KeepUnopened(result, errors) && !result.succeeded) {
    Keep(errors, StartErrorText(result.error), result.error);
  }
  return result.succeeded;
}

bool InstallService(const std::string& folder, InstallErrors* errors) {
  const std::string display_name = std::string(kProductName) + " Scheduler";
  InstallErrors local;
  if (errors == nullptr) errors = &local;
  // An existing registration is kept, and only started.
  if (CreateServiceEntry(ServiceCommandLine(folder), kServiceName,
                         display_name, errors)) {
    const platform::ScmResult configured =
        Manager().configure_recovery(kServiceName, kServiceDescription);
    if (!configured.succeeded) {
      Keep(errors, StartErrorText(configured.error), configured.error);
    }
  }
  // Without the manager, the start could only say the same again.
  if (errors->manager_unavailable) return false;
  return StartServiceByName(kServiceName, errors);
}

bool UninstallService(InstallErrors* errors) {
  StopServiceByName(kServiceName);
  return DeleteServiceEntry(kServiceName, errors);
}

}  // namespace corvana
