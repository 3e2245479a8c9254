#include "service/service_install.h"

#include "environment/app_context.h"
#include "logging/log.h"
#include "platform/env.h"
#include "platform/service.h"

namespace corvana {
namespace {

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

bool CreateServiceEntry(const std::string& command_line,
                        const std::string& name,
                        const std::string& display_name) {
  const platform::ScmResult result =
      platform::ScmCreateService(command_line, name, display_name);
  if (!result.manager_opened) return false;
  if (result.succeeded) return true;
  const std::string text = CreateErrorText(result.error);
  if (!text.empty()) WriteLog(text, kLogInstallError);
  return false;
}

bool StartServiceByName(const std::string& name) {
  const platform::ScmResult result = platform::ScmStartService(name);
  if (!result.service_opened) return false;
  if (!result.succeeded) WriteLog(StartErrorText(result.error), kLogInstallError);
  return result.succeeded;
}

bool StopServiceByName(const std::string& name) {
  return platform::ScmStopService(name).succeeded;
}

bool DeleteServiceEntry(const std::string& name) {
  StopServiceByName(name);
  return platform::ScmDeleteService(name).succeeded;
}

bool InstallService(const std::string& folder) {
  const std::string display_name = std::string(kProductName) + " Scheduler";
  // An existing registration is kept, and only started.
  CreateServiceEntry(ServiceCommandLine(folder), kServiceName, display_name);
  return StartServiceByName(kServiceName);
}

bool UninstallService() {
  StopServiceByName(kServiceName);
  return DeleteServiceEntry(kServiceName);
}

}  // namespace corvana
