// Filling the definition lists from HomePath.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"

namespace corvana {

inline constexpr const char kScheduleExtension[] = ".schedule";
inline constexpr const char kWebServerExtension[] = ".webserver";

// Empties the list and refills it with the enabled definitions, in the order
// the file system lists them; logs "Loading : N Schedules items".
void LoadSchedules(std::vector<ScheduleDefinition>* list);
void LoadWebServers(std::vector<WebServerDefinition>* list);

// Reads every file of the kind in the folder (ending with the separator, or
// empty) as the loaders do, disabled ones too, and hands each to `visit`
// with whether it could be used. False when the folder cannot be listed.
template <class Definition>
using DefinitionVisitor =
    std::function<void(const char* file_name, bool loaded, Definition& record)>;
bool ForEachScheduleFile(const std::string& folder,
                         const DefinitionVisitor<ScheduleDefinition>& visit);
bool ForEachWebServerFile(const std::string& folder,
                          const DefinitionVisitor<WebServerDefinition>& visit);

}  // namespace corvana
