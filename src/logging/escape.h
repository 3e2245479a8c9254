// Bytes that users wrote (file names, definition text) as they may reach an
// administrator's terminal: control characters escaped, the rest unchanged.
// Every writer (the log, the events, `schedules`) shows them by this one
// rule, each escaping once, as the text leaves it.
#pragma once

#include <string>
#include <string_view>

namespace corvana {

// C0 controls, DEL and C1 controls become "\xNN", one escape per byte. A
// C1 control is U+0080 to U+009F encoded in UTF-8; other well-formed UTF-8
// sequences stay whole, so names in any script remain readable. A byte
// from 0x80 up that starts no well-formed sequence (a lone byte, an
// overlong form, a surrogate, a cut-off sequence) is escaped too, except
// where the system's narrow text is its code page
// (platform::kLoneHighBytesArePrintable). A backslash followed by 'x' and
// two hex digits becomes "\x5c", so that every "\xNN" shown is an escape.
std::string EscapeControlCharacters(std::string_view text);
// Whether EscapeControlCharacters would change the text: the log writes the
// common line as it is, without a copy.
bool NeedsEscaping(std::string_view text);

}  // namespace corvana
