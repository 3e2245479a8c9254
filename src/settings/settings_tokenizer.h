// Turns the text of a settings file, held whole in memory, into tokens, and
// classifies names against the sections and keys of the document being
// loaded. One pass, in place; no token allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/settings_model.h"

namespace corvana {

enum class TokenKind {
  kEnd,
  kNumber,
  kString,
  kEquals,
  kPunctuation,
  kVersionKeyword,
  kKnownKey,
  kSectionHeader,
  kUnrecognizedName,
  kError,  // the reader's own: a value failed to parse
};

inline constexpr size_t kTokenTextLimit = 1024;
inline constexpr size_t kHeaderNameLimit = 1022;

// The state of one scan over one text buffer. Positions point into the
// caller's buffer, which must outlive the cursor.
struct SettingsCursor {
  SettingsCursor(const char* text, size_t length)
      : position(text),
        token_start(text),
        end(text + length),
        value_begin(text),
        value_end(text) {
    token_text[0] = '\0';
  }

  const char* position;
  const char* token_start;
  const char* end;
  // Left uninitialised beyond the terminator: a cursor is made per load and
  // clearing 1 KiB each time shows in the small-file throughput.
  char token_text[kTokenTextLimit + 1];
  size_t token_length = 0;  // of token_text, set with it
  const char* value_begin;
  const char* value_end;
  bool value_escaped = false;  // the span holds a backslash
  const SettingsSectionBase* current_section = nullptr;
  const SettingsEntry* current_entry = nullptr;
  size_t current_entry_index = 0;
  bool block_open = false;
};

TokenKind NextToken(const SettingsDocumentBase& document,
                    SettingsCursor* cursor);
// NextToken, quicker when a token of the expected kind (Number or String)
// starts right at the position, as it does in most files.
TokenKind NextTokenExpecting(const SettingsDocumentBase& document,
                             SettingsCursor* cursor, TokenKind expected);
// When a number starts right at the position: reads it as
// NextTokenExpecting would and gives the value NumberToInteger would give
// its text, leaving token_text as it was. False, and nothing read, otherwise.
bool ReadIntegerAtPosition(SettingsCursor* cursor, int32_t* value);
// NextToken, quickest when "=" stands right at the position.
inline TokenKind NextTokenExpectingEquals(const SettingsDocumentBase& document,
                                          SettingsCursor* cursor) {
  if (cursor->position < cursor->end && *cursor->position == '=') {
    cursor->token_start = cursor->position++;
    return TokenKind::kEquals;
  }
  return NextToken(document, cursor);
}
// The usual lines of a section, read one after another: a known key of at
// most 15 bytes, after blanks, with "=" right behind it, and its value
// right behind the "=" when that is a number of at most eight digits for
// an integer key, or a short quoted text for a text key,
// stored into the record's field as ReadValueAfterEquals would store it.
// Reads each key and "=" as NextToken and NextTokenExpectingEquals would,
// leaving token_text as it was, and sets bit i of `seen` (64 to a word) for
// every entry i whose key it read. Stops at the first line it cannot read
// so: null, and nothing of that line read, when the key is not there; that
// key's entry, with the cursor right behind the "=", when only its value
// is not. Needs a current section.
const SettingsEntry* ReadKnownKeyLines(SettingsCursor* cursor, void* record,
                                       uint64_t* seen);
TokenKind ReadSectionHeader(const SettingsDocumentBase& document,
                            SettingsCursor* cursor);
// ASCII letters compared without regard to case, as names are matched.
bool NamesEqualIgnoringCase(const char* a, size_t a_length, const char* b,
                            size_t b_length);

}  // namespace corvana
