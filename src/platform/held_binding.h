// Which held folder a path stands for, as BindHeldFolder set it, and which
// extension a listed name ends with; shared by the platforms' file code.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace corvana::platform {

// The bound folder when `path` is the bound path followed by a name without
// a separator (*name views that end of `path`, so it ends at its NUL), or
// when `path` is the bound path itself (*name empty); nullptr otherwise.
const HeldFolder* HeldFolderFor(const std::string& path, std::string_view* name);

// The index of the first of `extensions` that the name ends with, ASCII
// letters compared without regard to case; extensions.size() when none.
size_t MatchingExtension(const char* name,
                         std::span<const std::string_view> extensions);

}  // namespace corvana::platform
