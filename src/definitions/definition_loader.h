// Filling the definition lists from HomePath, and the change counter that
// tells the scheduler that definitions have changed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "definitions/schedule_definition.h"
#include "definitions/webserver_definition.h"

namespace corvana {

inline constexpr const char kScheduleExtension[] = ".schedule";
inline constexpr const char kWebServerExtension[] = ".webserver";
inline constexpr const char kCounterFileName[] = "schedule_counter.dat";

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

// 0 when the file is missing or cannot be opened, 1 when it is shorter than
// 4 bytes, else its first 4 bytes as a little-endian signed integer.
int32_t ReadChangeCounter();
// The same, but nothing when the file exists and stayed unreadable through
// every attempt: a writer's hold says nothing about its value.
std::optional<int32_t> ReadChangeCounterUnlessHeld();
// Up to 20 attempts 3 ms apart, to get past a writer's short hold on the
// file; gives up at once when nothing exists at the path.
std::FILE* OpenCounterFile(const std::string& path);

}  // namespace corvana
