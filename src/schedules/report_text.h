// The report as an administrator reads it on a terminal: a table per kind
// of definition, then the files that do not load and what else the service
// would do.
#pragma once

#include <string>

#include "schedules/report_model.h"

namespace corvana::schedules {

std::string RenderText(const Report& report);

}  // namespace corvana::schedules
