#include "service/entry_point.h"

#include <cstring>
#include <string>

#include "environment/app_context.h"
#include "platform/env.h"
#include "platform/service.h"
#include "service/service_install.h"
#include "service/service_main.h"

namespace corvana {
namespace {

// What the service's command line names: the executable's folder without
// a trailing separator, the current directory when the path names none.
std::string InstallFolder() {
  const std::string folder = platform::ExecutableFolder();
  if (folder.empty()) return platform::CurrentDirectory();
  return folder.substr(0, folder.size() - 1);
}

constexpr char kUsage[] =
    "Usage: scheduler --service | --install | --uninstall | --help | --version\n"
    "  --service    run the scheduler (the service manager starts it so; on\n"
    "               Linux it runs in the foreground until SIGTERM or SIGHUP)\n"
    "  --install    register the service RavoScheduler and start it\n"
    "  --uninstall  stop the service and remove it\n"
    "  --help       print this text\n"
    "  --version    print the version\n";

// A mistyped option ("--instal") would otherwise run the service, which
// creates the data folder: it is refused before anything is touched. A
// word without a dash keeps its old meaning, as the registration may carry
// one.
bool IsUnknownOption(const char* argument) {
  return argument[0] == '-' && std::strcmp(argument, kServiceArgument) != 0;
}

// Failures go to standard error, whatever the status.
int FinishServiceCommand(bool succeeded, const InstallErrors& errors,
                         std::FILE* err) {
  for (const std::string& text : errors.texts) {
    std::fprintf(err, "%s\n", text.c_str());
  }
  return ServiceCommandStatus(succeeded, errors);
}

}  // namespace

int ServiceCommandStatus(bool succeeded, const InstallErrors& errors) {
  // A service that already runs is what the person installing wanted.
  if (succeeded || errors.last_error == platform::ServiceError::kAlreadyRunning) {
    return 0;
  }
  return 1;
}

int SchedulerMain(int argc, char** argv, std::FILE* out, std::FILE* err) {
  platform::RestrictLibrarySearch();
  if (argc < 2) {
    std::fputs("Wrong parameters\n", out);
    return 0;
  }
  const std::string folder = InstallFolder();
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--install") == 0) {
      InstallErrors errors;
      const bool installed = InstallService(folder, &errors);
      if (installed) std::fputs("Windows Service is installed\n", out);
      return FinishServiceCommand(installed, errors, err);
    }
    if (std::strcmp(argv[i], "--uninstall") == 0) {
      InstallErrors errors;
      const bool removed = UninstallService(&errors);
      if (removed) std::fputs("Windows Service is uninstalled\n", out);
      return FinishServiceCommand(removed, errors, err);
    }
    if (i == 0) continue;  // the command name is never an option
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, out);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fprintf(out, "scheduler (%s %s)\n", kProductName, kVersionText);
      return 0;
    }
    if (IsUnknownOption(argv[i])) {
      std::fprintf(err, "scheduler: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
    if (std::strcmp(argv[i], kServiceArgument) != 0) {
      std::fputs("Wrong parameter\n", out);
    }
  }
  std::fflush(out);
  platform::RunServiceDispatcher(kServiceName, &ServiceMain);
  return 0;
}

}  // namespace corvana
