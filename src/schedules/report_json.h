// The report for programs: the same facts as the text, as one JSON object.
#pragma once

#include <string>

#include "schedules/report_model.h"

namespace corvana::schedules {

std::string RenderJson(const Report& report);

}  // namespace corvana::schedules
