// Names compared as the file system compares them: ASCII letters without
// regard to case, every other byte as it is, whatever the locale.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace corvana::platform {

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail);

// The index of the first of `extensions` that the name ends with;
// extensions.size() when none.
size_t MatchingExtension(std::string_view name,
                         std::span<const std::string_view> extensions);

}  // namespace corvana::platform
