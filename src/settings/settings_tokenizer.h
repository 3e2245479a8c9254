// Turns the text of a settings file, held whole in memory, into tokens, and
// classifies names against the sections and keys of the document being
// loaded. One pass, in place; no token allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/settings_model.h"

namespace corvana {

enum class TokenKind {
  End,
  Number,
  String,
  Equals,
  Punctuation,
  VersionKeyword,
  KnownKey,
  SectionHeader,
  UnrecognizedName,
  Error,  // the reader's own: a value failed to parse
};

inline constexpr size_t kTokenTextLimit = 1024;
inline constexpr size_t kHeaderNameLimit = 1022;

// The state of one scan over one text buffer. Positions point into the
// caller's buffer, which must outlive the cursor.
struct SettingsCursor {
  SettingsCursor(const char* text, size_t length)
      : position(text),
        tokenStart(text),
        end(text + length),
        valueBegin(text),
        valueEnd(text) {
    tokenText[0] = '\0';
  }

  const char* position;
  const char* tokenStart;
  const char* end;
  // Left uninitialised beyond the terminator: a cursor is made per load and
  // clearing 1 KiB each time shows in the small-file throughput.
  char tokenText[kTokenTextLimit + 1];
  size_t tokenLength = 0;  // of tokenText, set with it
  const char* valueBegin;
  const char* valueEnd;
  bool valueEscaped = false;  // the span holds a backslash
  const SettingsSectionBase* currentSection = nullptr;
  const SettingsEntry* currentEntry = nullptr;
  size_t currentEntryIndex = 0;
  bool blockOpen = false;
};

TokenKind NextToken(const SettingsDocumentBase& document,
                    SettingsCursor* cursor);
// NextToken, quicker when a token of the expected kind (Number or String)
// starts right at the position, as it does in most files.
TokenKind NextTokenExpecting(const SettingsDocumentBase& document,
                             SettingsCursor* cursor, TokenKind expected);
// When a number starts right at the position: reads it as
// NextTokenExpecting would and gives the value NumberToInteger would give
// its text, leaving tokenText as it was. False, and nothing read, otherwise.
bool ReadIntegerAtPosition(SettingsCursor* cursor, int32_t* value);
// NextToken, quickest when "=" stands right at the position.
inline TokenKind NextTokenExpectingEquals(const SettingsDocumentBase& document,
                                          SettingsCursor* cursor) {
  if (cursor->position < cursor->end && *cursor->position == '=') {
    cursor->tokenStart = cursor->position++;
    return TokenKind::Equals;
  }
  return NextToken(document, cursor);
}
TokenKind ReadSectionHeader(const SettingsDocumentBase& document,
                            SettingsCursor* cursor);
// ASCII letters compared without regard to case, as names are matched.
bool NamesEqualIgnoringCase(const char* a, size_t a_length, const char* b,
                            size_t b_length);

}  // namespace corvana
