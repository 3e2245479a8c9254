// Bytes that users wrote (file names, definition text) as they may reach an
// administrator's terminal: control characters escaped, the rest unchanged.
#pragma once

#include <string>
#include <string_view>

namespace corvana {

// C0 controls, DEL and C1 controls become "\xNN", one escape per byte. A
// C1 control is the byte 0x80-0x9F outside a UTF-8 sequence, or U+0080 to
// U+009F encoded in UTF-8; other UTF-8 sequences stay whole, so names in
// any script remain readable. Backslashes are not doubled: the result is
// for reading, never parsed back.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace corvana
