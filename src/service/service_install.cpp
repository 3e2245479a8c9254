#include "service/service_install.h"

#include "environment/app_context.h"
#include "logging/log.h"
#include "platform/env.h"
#include "platform/event_log.h"
#include "platform/seams.h"
#include "platform/service.h"

namespace corvana {
namespace {

platform::ServiceManager& Manager() {
  return platform::CurrentServiceManager();
}

}  // namespace

std::string ServiceCommandLine(const std::string& folder) {
  return "\"" + folder + platform::kPathSeparator +
         platform::kSchedulerExecutableName + "\" " + kServiceArgument;
}

namespace {

// Kept for the person who ran the command: the log is not open here.
void Keep(InstallErrors* errors, const std::string& text,
          platform::ServiceError error) {
  if (errors == nullptr) return;
  errors->texts.push_back(text);
  errors->last_error = error;
}

// The table's texts are logged as they always were, and kept.
void Note(InstallErrors* errors, const std::string& text,
          platform::ServiceError error) {
  WriteLog(text);
  Keep(errors, text, error);
}

// A manager or a service that cannot be opened fails before the operation
// itself, which logs nothing; the person still needs to hear about it.
bool KeepUnopened(const platform::ServiceResult& result, InstallErrors* errors) {
  if (!result.manager_opened) {
    Keep(errors, platform::kServiceManagerUnavailableText, result.error);
    if (errors != nullptr) errors->manager_unavailable = true;
    return true;
  }
  if (!result.service_opened) {
    Keep(errors, platform::FailureText(result), result.error);
    return true;
  }
  return false;
}

// Told, but no part of the exit status: the service runs without its
// event source.
void NoteEventSource(const platform::EventSourceResult& result,
                     InstallErrors* errors) {
  if (result.succeeded || errors == nullptr) return;
  errors->texts.push_back(std::string("Error: event source ") +
                          platform::kEventSourceName + ": " +
                          result.failed_call + " returned " +
                          std::to_string(result.native_error));
}

}  // namespace

bool CreateServiceEntry(const std::string& command_line,
                        const std::string& name,
                        const std::string& display_name,
                        InstallErrors* errors) {
  const platform::ServiceResult result =
      Manager().Register(command_line, name, display_name);
  // Creating opens no service, only the manager.
  if (!result.manager_opened) {
    KeepUnopened(result, errors);
    return false;
  }
  if (result.succeeded) return true;
  const std::string text = platform::CreateFailureText(result);
  if (!text.empty()) Note(errors, text, result.error);
  return false;
}

bool StartServiceByName(const std::string& name, InstallErrors* errors) {
  const platform::ServiceResult result = Manager().Start(name);
  if (KeepUnopened(result, errors)) return false;
  if (!result.succeeded) {
    Note(errors, platform::FailureText(result), result.error);
  }
  return result.succeeded;
}

bool StopServiceByName(const std::string& name) {
  return Manager().Stop(name).succeeded;
}

bool DeleteServiceEntry(const std::string& name, InstallErrors* errors) {
  StopServiceByName(name);
  const platform::ServiceResult result = Manager().Remove(name);
  if (!KeepUnopened(result, errors) && !result.succeeded) {
    Keep(errors, platform::FailureText(result), result.error);
  }
  return result.succeeded;
}

bool InstallService(const std::string& folder, InstallErrors* errors) {
  const std::string display_name = std::string(kProductName) + " Scheduler";
  InstallErrors local;
  if (errors == nullptr) errors = &local;
  NoteEventSource(platform::RegisterEventLogSource(
                      folder + platform::kPathSeparator +
                      platform::kSchedulerExecutableName),
                  errors);
  // An existing registration is kept, and only started.
  if (CreateServiceEntry(ServiceCommandLine(folder), kServiceName,
                         display_name, errors)) {
    const platform::ServiceResult configured =
        Manager().ConfigureRecovery(kServiceName, kServiceDescription);
    if (!configured.succeeded) {
      Keep(errors, platform::FailureText(configured), configured.error);
    }
  }
  // Without the manager, the start could only say the same again.
  if (errors->manager_unavailable) return false;
  return StartServiceByName(kServiceName, errors);
}

bool UninstallService(InstallErrors* errors) {
  StopServiceByName(kServiceName);
  const bool deleted = DeleteServiceEntry(kServiceName, errors);
  NoteEventSource(platform::RemoveEventLogSource(), errors);
  return deleted;
}

}  // namespace corvana
