// Filling the definition lists from the held data folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"
#include "platform/fs.h"
#include "settings/settings_document.h"

namespace corvana {

inline constexpr const char kScheduleExtension[] = ".schedule";
inline constexpr const char kWebServerExtension[] = ".webserver";

// Empties the list and refills it with the enabled definitions, in the order
// the file system lists them; logs "Loading : N Schedules items".
// A reload of both kinds lists the folder once: the schedule load keeps the
// web-server names it meets (each followed by a NUL) in `web_server_names`,
// and the web-server load given `names` reads those files in that order.
void LoadSchedules(const platform::HeldFolder& folder,
                   std::vector<ScheduleDefinition>* list,
                   std::string* web_server_names = nullptr);
void LoadWebServers(const platform::HeldFolder& folder,
                    std::vector<WebServerDefinition>* list,
                    const std::string* names = nullptr);

// Reads every file of the kind in the folder as the loaders do, disabled ones too, and hands each to `visit`
// with why it could not be used, or null when it could. False when the
// folder cannot be listed.
template <class Definition>
using DefinitionVisitor = std::function<void(
    const char* file_name, const SettingsFailure* failure, Definition& record)>;
bool ForEachScheduleFile(const platform::HeldFolder& folder,
                         const DefinitionVisitor<ScheduleDefinition>& visit);
bool ForEachWebServerFile(const platform::HeldFolder& folder,
                          const DefinitionVisitor<WebServerDefinition>& visit);

}  // namespace corvana
