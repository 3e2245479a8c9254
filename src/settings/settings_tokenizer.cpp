#include "settings/settings_tokenizer.h"

#include <array>
#include <cstring>

namespace corvana {
namespace {

// What a byte can start, and whether it ends a name. One table lookup per
// byte keeps the scan branch-light.
enum CharClass : uint8_t {
  kOther,
  kBlank,
  kSlash,
  kStar,
  kMinus,
  kNumberChar,
  kNameStart,
  kQuote,
  kOpenBracket,
  kEqualsSign,
};

constexpr uint8_t kDelimiterBit = 0x80;
constexpr uint8_t kClassMask = 0x7f;

constexpr std::array<uint8_t, 256> BuildCharTable() {
  std::array<uint8_t, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = kNameStart;
  for (int c = 'a'; c <= 'z'; ++c) table[c] = kNameStart;
  table['_'] = table['$'] = kNameStart;
  for (int c = '0'; c <= '9'; ++c) table[c] = kNumberChar;
  table['.'] = table[','] = kNumberChar;
  table['\t'] = table['\n'] = table['\r'] = table[' '] = kBlank;
  table['/'] = kSlash;
  table['*'] = kStar;
  table['-'] = kMinus;
  table['"'] = kQuote;
  table['['] = kOpenBracket;
  table['='] = kEqualsSign;
  const char delimiters[] = " .;{}[]()<>!,=?:#+-*/%^&`'\"\\|\t\n\r";
  for (size_t i = 0; i + 1 < sizeof delimiters; ++i) {
    table[static_cast<unsigned char>(delimiters[i])] |= kDelimiterBit;
  }
  table[0] |= kDelimiterBit;
  return table;
}

constexpr std::array<uint8_t, 256> kCharTable = BuildCharTable();

inline uint8_t ClassOf(char c) {
  return kCharTable[static_cast<unsigned char>(c)] & kClassMask;
}
inline bool IsDelimiter(char c) {
  return (kCharTable[static_cast<unsigned char>(c)] & kDelimiterBit) != 0;
}
inline bool IsNumberChar(char c) { return ClassOf(c) == kNumberChar; }

inline char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const char* text, size_t length,
                        const std::string& name) {
  if (name.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (LowerAscii(text[i]) != LowerAscii(name[i])) return false;
  }
  return true;
}

// The comparisons of the comment rules only match when all of their
// characters lie before the end.
inline bool StartsWith(const SettingsCursor& cursor, const char* pattern,
                       size_t length) {
  return static_cast<size_t>(cursor.end - cursor.position) >= length &&
         std::memcmp(cursor.position, pattern, length) == 0;
}

void SkipBlanks(SettingsCursor* cursor) {
  const char* p = cursor->position;
  while (p < cursor->end && ClassOf(*p) == kBlank) ++p;
  cursor->position = p;
}

void SkipLineComment(SettingsCursor* cursor) {
  const char* p = cursor->position + 2;
  while (p < cursor->end && *p != '\n' && *p != '\r') ++p;
  cursor->position = p;
}

void SkipBlockComment(SettingsCursor* cursor) {
  const char* p = cursor->position + 2;
  const char* last = cursor->end - 1;  // "*/" must start before it
  while (p < last) {
    const void* star = std::memchr(p, '*', static_cast<size_t>(last - p));
    if (star == nullptr) break;
    p = static_cast<const char*>(star);
    if (p[1] == '/') {
      cursor->position = p + 2;
      return;
    }
    ++p;
  }
  cursor->position = cursor->end;
}

TokenKind ReadNumber(SettingsCursor* cursor) {
  const char* p = cursor->position;
  size_t length = 0;
  if (*p == '-') cursor->tokenText[length++] = *p++;
  while (p < cursor->end && length < kTokenTextLimit && IsNumberChar(*p)) {
    cursor->tokenText[length++] = *p++;
  }
  cursor->tokenText[length] = '\0';
  cursor->tokenLength = length;
  cursor->position = p;
  return TokenKind::Number;
}

TokenKind ReadName(SettingsCursor* cursor) {
  const char* p = cursor->position;
  const char* stop = cursor->end;
  if (static_cast<size_t>(stop - p) > kTokenTextLimit) {
    stop = p + kTokenTextLimit;
  }
  const char* begin = p;
  while (p < stop && !IsDelimiter(*p)) ++p;
  size_t length = static_cast<size_t>(p - begin);
  std::memcpy(cursor->tokenText, begin, length);
  cursor->tokenText[length] = '\0';
  cursor->tokenLength = length;
  cursor->position = p;
  return ClassifyName(cursor);
}

TokenKind ReadString(SettingsCursor* cursor) {
  const char* p = cursor->position + 1;
  const char* begin = p;
  while (p < cursor->end) {
    if (*p == '"') {
      cursor->valueBegin = begin;
      cursor->valueEnd = p;
      cursor->position = p + 1;
      return TokenKind::String;
    }
    if (*p == '\\') {
      if (cursor->end - p < 2) break;
      ++p;
    }
    ++p;
  }
  cursor->position = cursor->end;
  return TokenKind::End;
}

// Rule 3 of the scan: "*/" closes an open block, and otherwise ends the
// stream for good. Nothing after a stray one is ever read.
bool CloseBlockOrStop(SettingsCursor* cursor) {
  cursor->position += 2;
  if (cursor->blockOpen) {
    cursor->blockOpen = false;
    return true;
  }
  cursor->position = cursor->end;
  return false;
}

// The "/" rules: line comment, block opener, block comment. False when the
// slash is just punctuation.
bool SkipSlashForm(SettingsCursor* cursor) {
  if (StartsWith(*cursor, "//", 2)) {
    SkipLineComment(cursor);
  } else if (StartsWith(*cursor, "/*+&", 4)) {
    cursor->blockOpen = true;
    cursor->position += 4;
  } else if (StartsWith(*cursor, "/*", 2)) {
    SkipBlockComment(cursor);
  } else {
    return false;
  }
  return true;
}

TokenKind SingleCharacter(SettingsCursor* cursor, TokenKind kind) {
  ++cursor->position;
  return kind;
}

}  // namespace

TokenKind ClassifyName(SettingsCursor* cursor) {
  static const std::string kVersionKeyword = "FormatVersion";
  const char* text = cursor->tokenText;
  const size_t length = cursor->tokenLength;
  if (EqualsIgnoringCase(text, length, kVersionKeyword)) {
    return TokenKind::VersionKeyword;
  }
  const SettingsSectionBase* section = cursor->currentSection;
  if (section == nullptr) return TokenKind::UnrecognizedName;
  for (size_t i = 0; i < section->entries.size(); ++i) {
    if (EqualsIgnoringCase(text, length, section->entries[i].key)) {
      cursor->currentEntry = &section->entries[i];
      cursor->currentEntryIndex = i;
      return TokenKind::KnownKey;
    }
  }
  return TokenKind::UnrecognizedName;
}

TokenKind ReadSectionHeader(const SettingsDocumentBase& document,
                            SettingsCursor* cursor) {
  const char* p = cursor->position + 1;
  const char* stop = cursor->end;
  if (static_cast<size_t>(stop - p) > kHeaderNameLimit) {
    stop = p + kHeaderNameLimit;
  }
  const char* begin = p;
  while (p < stop && *p != ']') ++p;
  cursor->position = p;
  if (p == cursor->end) return TokenKind::End;
  size_t length = static_cast<size_t>(p - begin);
  std::memcpy(cursor->tokenText, begin, length);
  cursor->tokenText[length] = '\0';
  cursor->tokenLength = length;
  cursor->currentSection = nullptr;
  for (const auto& section : document.sections) {
    if (EqualsIgnoringCase(begin, length, section->name)) {
      cursor->currentSection = section.get();
      return TokenKind::SectionHeader;
    }
  }
  return TokenKind::UnrecognizedName;
}

TokenKind NextToken(const SettingsDocumentBase& document,
                    SettingsCursor* cursor) {
  cursor->tokenStart = cursor->position;
  while (cursor->position < cursor->end) {
    switch (ClassOf(*cursor->position)) {
      case kBlank:
        SkipBlanks(cursor);
        continue;
      case kSlash:
        if (SkipSlashForm(cursor)) continue;
        return SingleCharacter(cursor, TokenKind::Punctuation);
      case kStar:
        if (!StartsWith(*cursor, "*/", 2)) {
          return SingleCharacter(cursor, TokenKind::Punctuation);
        }
        if (CloseBlockOrStop(cursor)) continue;
        return TokenKind::End;
      case kMinus:
      case kNumberChar:
        return ReadNumber(cursor);
      case kNameStart:
        return ReadName(cursor);
      case kQuote:
        return ReadString(cursor);
      case kOpenBracket: {
        TokenKind kind = ReadSectionHeader(document, cursor);
        if (kind != TokenKind::End) ++cursor->position;  // past the "]"
        return kind;
      }
      case kEqualsSign:
        return SingleCharacter(cursor, TokenKind::Equals);
      default:
        return SingleCharacter(cursor, TokenKind::Punctuation);
    }
  }
  return TokenKind::End;
}

}  // namespace corvana
