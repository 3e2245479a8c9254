// Which held folder a path stands for, as BindHeldFolder set it; shared by
// the platforms' file code.
#pragma once

#include <string>

#include "platform/fs.h"

namespace corvana::platform {

// The bound folder when `path` is the bound path followed by a name without
// a separator (the name goes to *name), or when `path` is the bound path
// itself (*name empty); nullptr otherwise.
const HeldFolder* HeldFolderFor(const std::string& path, std::string* name);

}  // namespace corvana::platform
