// The lines the service writes, each declared once: `schedules` reads the
// engine's lines back from the log, and the events for administrators
// report the same facts, so writers and readers must never drift apart.
// The texts are the log's format: they do not change.
#pragma once

namespace corvana::log_line {

// Launching the analyzer; the id follows.
inline constexpr char kRunningSchedule[] = "Running schedule, id: ";
inline constexpr char kScheduleStarted[] = "Successful run schedule, id: ";
inline constexpr char kScheduleFailed[] = "Error: Failed to run task, id: ";
inline constexpr char kRunningUpdate[] = "Running update webserver, id: ";
inline constexpr char kUpdateStarted[] = "Successful run webserver update, id: ";
inline constexpr char kUpdateFailed[] = "Error: Failed to run webserver update, id: ";
inline constexpr char kStillActive[] = "Error: The process is still active, id: ";
inline constexpr char kRunningServe[] = "Running serve service";
inline constexpr char kServeStarted[] = "Successful run serve service";
inline constexpr char kServeFailed[] = "Error: Failed to run serve service";
// Due while every analyzer slot is taken: the run starts, with the lines
// above, once another ends. The id follows.
inline constexpr char kWaitingForSlot[] = "Waiting for a free analyzer slot, id: ";

// Supervision; the id or the counter's value follows.
inline constexpr char kTerminated[] = "Terminate Process, id: ";
inline constexpr char kStopped[] = "The process stopped, id: ";
inline constexpr char kDefinitionsChanged[] = "The schedules has been changed #";
// Read as missing, so reloads go on; the path follows.
inline constexpr char kCounterNotAFile[] =
    "The change counter is not a regular file and counts as missing: ";
// At the service's start, before the launch's own lines: the missed start's
// local time, then the id.
inline constexpr char kMissedStart[] = "Running the start missed at ";
inline constexpr char kMissedStartId[] = ", id: ";
inline constexpr char kLocalTimeUnreadable[] =
    "Error: The local time cannot be read, nothing is started until it can";

// Start-up, reloads and shutdown.
inline constexpr char kHomePath[] = "Home path: ";
inline constexpr char kHomePathArrow[] = " >> ";
inline constexpr char kRunTasks[] = "Run Task Schedulers/Webservers...";
inline constexpr char kLoadingSchedules[] = "Loading schedules";
inline constexpr char kLoadingWebServers[] = "Loading webservers";
inline constexpr char kStartWebServers[] = "Start webservers...";
inline constexpr char kStopWebServers[] = "Stop webservers...";
inline constexpr char kNormalShutdown[] = "Scheduler normal shutdown.";
inline constexpr char kEventsNotDelivered[] =
    "Events the system's log did not take at the stop: ";
// The path and its reason follow.
inline constexpr char kHomePathNotUsed[] = "HomePath not used: ";
inline constexpr char kCrashReportInitOk[] = "Crash Report init - OK";
inline constexpr char kCrashReportInitError[] = "Crash Report init error";
inline constexpr char kCrash[] = "***Crash!";

// The service host.
inline constexpr char kSetStatusFailed[] =
    "Service: ServiceMain: SetServiceStatus returned error";
inline constexpr char kRegisterHandlerFailed[] =
    "Service: ServiceMain: RegisterServiceCtrlHandler returned error";
inline constexpr char kServiceStopped[] = "Service: Stopped.";
inline constexpr char kServiceShutdown[] = "Service: Shutdown.";

// nginx; the refused path and the reason follow kNginxRefused, or
// kNginxQuitRefused for the quit command.
inline constexpr char kNginxRefused[] = "nginx.exe not started: ";
inline constexpr char kNginxQuitRefused[] = "nginx.exe -s quit not run: ";
// The nginx this service started and holds, ended with its workers because
// it could not be told to quit; why follows.
inline constexpr char kNginxTreeEnded[] = "nginx.exe ended with everything it started: ";
inline constexpr char kNginxQuitNotRun[] = "the quit command could not be run";
inline constexpr char kNginxDidNotQuit[] = "it did not quit within 3 seconds";
// The held nginx ended by itself: its exit code follows kNginxEnded, then
// when it is started again.
inline constexpr char kNginxEnded[] = "nginx.exe ended with exit code ";
inline constexpr char kNginxRestartNow[] = ", starting it again";
inline constexpr char kNginxRestartLater[] = ", starting it again in 60 s";
inline constexpr char kNginxGivenUp[] =
    "nginx.exe is not started again: it ended or could not be started 3 times within an "
    "hour; the next reload of the definitions tries again";
// Its process not created within the bound; the command line follows.
inline constexpr char kNginxStartPending[] =
    "nginx.exe still being started, not waited for: ";
inline constexpr char kWebServerCommandSucceeded[] = "Webserver command successfully";
inline constexpr char kWebServerCommandFailed[] = "Webserver command error";

// Reading one definition file; the path goes between a line's two halves.
inline constexpr char kLoadSettings[] = "Load settings '";
inline constexpr char kLoadSettingsEnd[] = "'...";
inline constexpr char kLoadSettingsOk[] = "Load settings - OK";
inline constexpr char kCannotOpen[] = "Cannot open file '";
inline constexpr char kCannotOpenEnd[] = "'";
inline constexpr char kCannotRead[] = "Could not read from file '";
inline constexpr char kCannotReadEnd[] = "'.";
inline constexpr char kBadVersion[] = "Bad version project file";
inline constexpr char kProjectError[] = " Project error, string=";
inline constexpr char kScheduleUnreadable[] = "Error read schedule settings";
inline constexpr char kWebServerUnreadable[] = "Error read webserver settings";

// Listing the definitions; the name, or the count and the kind, go between
// a line's pieces.
inline constexpr char kSkippedFile[] = "Skipped file '";
inline constexpr char kSkippedForeignName[] =
    "': its name holds a character that no Windows file name can hold";
inline constexpr char kLoadedCount[] = "Loading : ";
inline constexpr char kLoadedCountEnd[] = " items";
inline constexpr char kSchedulesKind[] = "Schedules";
inline constexpr char kWebServersKind[] = "Web Servers";

}  // namespace corvana::log_line
