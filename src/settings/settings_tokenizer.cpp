#include "settings/settings_tokenizer.h"

#include "settings/settings_document.h"

#include <array>
#include <bit>
#include <cstring>

namespace corvana {
namespace {

// What a byte can start (the low bits), whether it continues a number and
// whether it ends a name. One table lookup per byte.
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

constexpr uint8_t kClassMask = 0x0f;
constexpr uint8_t kNumberBit = 0x40;
constexpr uint8_t kDelimiterBit = 0x80;

constexpr std::array<uint8_t, 256> BuildCharTable() {
  std::array<uint8_t, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = kNameStart;
  for (int c = 'a'; c <= 'z'; ++c) table[c] = kNameStart;
  table['_'] = table['$'] = kNameStart;
  for (int c = '0'; c <= '9'; ++c) table[c] = kNumberChar | kNumberBit;
  table['.'] = table[','] = kNumberChar | kNumberBit;
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

inline uint8_t TableOf(char c) {
  return kCharTable[static_cast<unsigned char>(c)];
}
inline uint8_t ClassOf(char c) { return TableOf(c) & kClassMask; }

inline char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHighBits = kOnes * 0x80;

// Eight bytes at p, all readable, the first in the lowest bits.
inline uint64_t LoadWord(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap64(word);
  }
  return word;
}

// The high bit of each byte of `low7` (bytes below 0x80) that lies in
// [first, last]. No byte carries into the next.
constexpr uint64_t BytesInRange(uint64_t low7, char first, char last) {
  return (low7 + kOnes * (0x80 - first)) & ~(low7 + kOnes * (0x7f - last)) &
         kHighBits;
}

// Eight bytes at p, all readable, with the bytes from `count` on cleared.
inline uint64_t WordMasked(const char* p, size_t count) {
  const uint64_t word = LoadWord(p);
  return count < 8 ? word & ((uint64_t{1} << (8 * count)) - 1) : word;
}

// PackLowered of eight bytes at p, all readable, with the bytes from
// `count` on cleared: one load and a few word operations.
uint64_t WordLowered(const char* p, size_t count) {
  const uint64_t word = WordMasked(p, count);
  const uint64_t upper = BytesInRange(word & ~kHighBits, 'A', 'Z') & ~word;
  return word | (upper >> 2);  // 0x80 >> 2 is the case bit 0x20
}

struct NameKey {
  uint64_t signature;
  uint64_t tail;
};

// NameSignature and NameTail of the name of `length` bytes at p, whose text
// has `room` readable bytes from p on.
inline NameKey KeyOfName(const char* p, size_t length, size_t room) {
  if (room < 15) return {NameSignature(p, length), NameTail(p, length)};
  const uint64_t length_bits =
      static_cast<uint64_t>(length < 255 ? length : 255) << 56;
  return {WordLowered(p, length < 7 ? length : 7) | length_bits,
          length > 7 ? WordLowered(p + 7, length - 7) : 0};
}

// KeyOfName as the bytes are written, for a name of at most 15 bytes with
// 16 readable from p. It equals KeyOfName exactly when the name holds no
// capital letter, and no key's signature or tail holds one.
inline NameKey KeyOfNameAsWritten(const char* p, size_t length) {
  return {WordMasked(p, length < 7 ? length : 7) |
              (static_cast<uint64_t>(length) << 56),
          length > 7 ? WordMasked(p + 7, length - 7) : 0};
}

bool EqualsIgnoringCase(const char* text, size_t length,
                        const std::string& name) {
  return NamesEqualIgnoringCase(text, length, name.data(), name.size());
}

inline bool KeyMatches(const SettingsEntry& entry, const char* text,
                       size_t length, NameKey name) {
  // Equal signatures and tails mean equal first fifteen bytes.
  return entry.key_signature == name.signature && entry.key_tail == name.tail &&
         entry.key.size() == length &&
         (length <= 15 ||
          NamesEqualIgnoringCase(text + 15, length - 15, entry.key.data() + 15,
                                 length - 15));
}

// A section's key lookup, held in locals for a run of lines: a store into
// the record could otherwise be taken to change the section, which would
// then be loaded again on every line.
struct KeyTable {
  explicit KeyTable(const SettingsSectionBase& section)
      : slots(section.key_slots_.data()),
        slot_count(section.key_slots_.size()),
        entries(section.entries_.data()) {}
  const uint32_t* slots;
  size_t slot_count;
  const SettingsEntry* entries;
};

// The first entry, in declaration order, whose key is the name of `length`
// bytes at `text`.
inline const SettingsEntry* FindKey(const KeyTable& table, const char* text,
                                    size_t length, NameKey name,
                                    size_t* index) {
  if (table.slot_count == 0) return nullptr;
  const size_t mask = table.slot_count - 1;
  for (size_t slot = KeySlot(name.signature, name.tail, mask);
       table.slots[slot] != 0; slot = (slot + 1) & mask) {
    const SettingsEntry& entry = table.entries[table.slots[slot] - 1];
    if (KeyMatches(entry, text, length, name)) {
      *index = table.slots[slot] - 1;
      return &entry;
    }
  }
  return nullptr;
}

// The comparisons of the comment rules only match when all of their
// characters lie before the end.
inline bool StartsWith(const SettingsCursor& cursor, const char* pattern,
                       size_t length) {
  return static_cast<size_t>(cursor.end - cursor.position) >= length &&
         std::memcmp(cursor.position, pattern, length) == 0;
}

inline void SkipBlanks(SettingsCursor* cursor) {
  const char* p = cursor->position;
  while (p < cursor->end && ClassOf(*p) == kBlank) ++p;
  cursor->position = p;
}

void SkipLineComment(SettingsCursor* cursor) {
  const char* p = cursor->position + 2;
  while (p < cursor->end && *p != '\n' && *p != '\r') ++p;
  cursor->position = p;
}

// Looks for the closing slash rather than the star: the header every file
// starts with is a frame of stars that holds no slash but the last one.
void SkipBlockComment(SettingsCursor* cursor) {
  // The "*/" must start after the opening "/*".
  const char* p = cursor->position + 3;
  const char* const end = cursor->end;
  while (p < end) {
    const void* slash = std::memchr(p, '/', static_cast<size_t>(end - p));
    if (slash == nullptr) break;
    p = static_cast<const char*>(slash);
    if (p[-1] == '*') {
      cursor->position = p + 1;
      return;
    }
    ++p;
  }
  cursor->position = cursor->end;
}

inline bool IsVersionKeyword(NameKey name) {
  static constexpr char kVersionKeyword[] = "FormatVersion";
  static constexpr size_t kVersionLength = sizeof kVersionKeyword - 1;
  // Short enough for its signature and tail to be the whole name.
  static_assert(kVersionLength <= 15);
  static constexpr NameKey kVersionKey = {
      NameSignature(kVersionKeyword, kVersionLength),
      NameTail(kVersionKeyword, kVersionLength)};
  return name.signature == kVersionKey.signature &&
         name.tail == kVersionKey.tail;
}

// What a name token is, told from its text's signature and tail.
TokenKind ClassifySignedName(SettingsCursor* cursor, NameKey name) {
  if (IsVersionKeyword(name)) return TokenKind::kVersionKeyword;
  const SettingsSectionBase* section = cursor->current_section;
  if (section == nullptr) return TokenKind::kUnrecognizedName;
  size_t index = 0;
  const SettingsEntry* entry =
      FindKey(KeyTable(*section), cursor->token_text, cursor->token_length, name, &index);
  if (entry == nullptr) return TokenKind::kUnrecognizedName;
  cursor->current_entry = entry;
  cursor->current_entry_index = index;
  return TokenKind::kKnownKey;
}

// Copies the run of bytes whose table entry has `bit` set (or, with
// kStopOnBit, clear), at most `limit` of them, into `out`, and gives its
// length. Copying while scanning beats a separate memcpy of a few bytes.
template <uint8_t kBit, bool kStopOnBit>
inline size_t CopyRun(const char* p, size_t limit, char* out) {
  size_t n = 0;
  for (; n < limit; ++n) {
    const char c = p[n];
    if (((TableOf(c) & kBit) != 0) == kStopOnBit) break;
    out[n] = c;
  }
  return n;
}

TokenKind ReadNumber(SettingsCursor* cursor) {
  const char* p = cursor->position;
  size_t length = 0;
  if (*p == '-') cursor->token_text[length++] = *p++;
  size_t room = static_cast<size_t>(cursor->end - p);
  if (room > kTokenTextLimit - length) room = kTokenTextLimit - length;
  const size_t digits =
      CopyRun<kNumberBit, false>(p, room, cursor->token_text + length);
  length += digits;
  cursor->token_text[length] = '\0';
  cursor->token_length = length;
  cursor->position = p + digits;
  return TokenKind::kNumber;
}

// The high bit of every byte of the word at p that is surely part of a
// name: an ASCII letter, digit or underscore. Anything else may or may not
// end it and goes to the table.
inline uint64_t NameBytes(const char* p) {
  const uint64_t word = LoadWord(p);
  const uint64_t low7 = word & ~kHighBits;
  const uint64_t underscore = low7 ^ (kOnes * '_');
  const uint64_t is_underscore = ~((underscore + ~kHighBits) | underscore);
  const uint64_t letter = BytesInRange(low7 | (kOnes * 0x20), 'a', 'z');
  return (letter | BytesInRange(low7, '0', '9') | is_underscore) & ~word &
         kHighBits;
}

// The length of the name at p when it ends within its first 16 bytes, all
// readable, at a delimiter; otherwise `unknown`. Usual keys end there, and
// a word at a time spares a branch per byte.
inline size_t ShortNameLength(const char* p, size_t unknown) {
  for (size_t offset = 0; offset < 16; offset += 8) {
    const uint64_t stops = NameBytes(p + offset) ^ kHighBits;
    if (stops == 0) continue;
    const size_t length =
        offset + static_cast<size_t>(std::countr_zero(stops)) / 8;
    return (TableOf(p[length]) & kDelimiterBit) != 0 ? length : unknown;
  }
  return unknown;
}

// The high bit of every byte of `word` that is `c`.
inline uint64_t BytesEqualTo(uint64_t word, char c) {
  const uint64_t x = word ^ (kOnes * static_cast<uint8_t>(c));
  return ~(((x & ~kHighBits) + ~kHighBits) | x) & kHighBits;
}

// The offset of the first "=" within the 16 bytes at p, all readable, or
// 0 when there is none. What leads up to it is a key only if it matches
// one exactly, and a key holds nothing but name bytes, so the lookup that
// follows checks the name and no byte needs a check of its own.
inline size_t OffsetOfEquals(const char* p) {
  const uint64_t low = BytesEqualTo(LoadWord(p), '=');
  if (low != 0) return static_cast<size_t>(std::countr_zero(low)) / 8;
  const uint64_t high = BytesEqualTo(LoadWord(p + 8), '=');
  if (high != 0) return 8 + static_cast<size_t>(std::countr_zero(high)) / 8;
  return 0;
}

TokenKind ReadName(SettingsCursor* cursor) {
  const char* p = cursor->position;
  size_t room = static_cast<size_t>(cursor->end - p);
  if (room > kTokenTextLimit) room = kTokenTextLimit;
  size_t length = room;
  if (room >= 16) {
    length = ShortNameLength(p, room);
    std::memcpy(cursor->token_text, p, 16);
  }
  if (length == room) {
    length = CopyRun<kDelimiterBit, true>(p, room, cursor->token_text);
  }
  cursor->token_text[length] = '\0';
  cursor->token_length = length;
  cursor->position = p + length;
  // From the text rather than token_text: reading back the bytes just
  // copied as one word would stall on the stores.
  return ClassifySignedName(
      cursor, KeyOfName(p, length, static_cast<size_t>(cursor->end - p)));
}

TokenKind ReadString(SettingsCursor* cursor) {
  const char* begin = cursor->position + 1;
  const char* end = cursor->end;
  const char* quote = static_cast<const char*>(
      std::memchr(begin, '"', static_cast<size_t>(end - begin)));
  const char* p = quote == nullptr ? end : quote;
  // Only a backslash can make that quote not the closing one.
  const char* slash = static_cast<const char*>(
      std::memchr(begin, '\\', static_cast<size_t>(p - begin)));
  if (slash != nullptr) {
    p = slash;
    while (p < end && *p != '"') {
      if (*p == '\\' && ++p == end) break;  // skips the escaped character
      ++p;
    }
  }
  if (p >= end) {
    cursor->position = end;
    return TokenKind::kEnd;
  }
  cursor->value_begin = begin;
  cursor->value_end = p;
  cursor->value_escaped = slash != nullptr;
  cursor->position = p + 1;
  return TokenKind::kString;
}

// Rule 3 of the scan: "*/" closes an open block, and otherwise ends the
// stream for good. Nothing after a stray one is ever read.
bool CloseBlockOrStop(SettingsCursor* cursor) {
  cursor->position += 2;
  if (cursor->block_open) {
    cursor->block_open = false;
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
    cursor->block_open = true;
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

bool NamesEqualIgnoringCase(const char* a, size_t a_length, const char* b,
                            size_t b_length) {
  if (a_length != b_length) return false;
  for (size_t i = 0; i < a_length; ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

namespace {

// The offset of the first "]" within the `room` bytes at p, or `room`.
// Section names are short: two words settle most without a call.
inline size_t HeaderNameLength(const char* p, size_t room) {
  if (room >= 16) {
    for (size_t offset = 0; offset < 16; offset += 8) {
      const uint64_t close = BytesEqualTo(LoadWord(p + offset), ']');
      if (close != 0) return offset + std::countr_zero(close) / 8;
    }
  }
  const void* close = std::memchr(p, ']', room);
  return close == nullptr
             ? room
             : static_cast<size_t>(static_cast<const char*>(close) - p);
}

// A header is nearly always written as its section was declared; only the
// others pay for folding the case.
inline bool IsSectionName(const char* p, size_t length,
                          const std::string& name) {
  return length == name.size() && (std::memcmp(p, name.data(), length) == 0 ||
                                   EqualsIgnoringCase(p, length, name));
}

}  // namespace

TokenKind ReadSectionHeader(const SettingsDocumentBase& document,
                            SettingsCursor* cursor) {
  const char* p = cursor->position + 1;
  size_t room = static_cast<size_t>(cursor->end - p);
  if (room > kHeaderNameLimit) room = kHeaderNameLimit;
  const size_t length = HeaderNameLength(p, room);
  cursor->position = p + length;
  if (cursor->position == cursor->end) return TokenKind::kEnd;
  cursor->current_section = nullptr;
  if (room >= 16 && length < 16) {
    // A fixed 16 bytes are copied inline; token_text holds far more.
    std::memcpy(cursor->token_text, p, 16);
    cursor->token_text[length] = '\0';
    cursor->token_length = length;
    // Names of up to 15 bytes that are equal ignoring case have equal
    // signatures and tails, and only those.
    const NameKey name = KeyOfName(p, length, room);
    for (const auto& section : document.sections_) {
      if (section->name_signature_ == name.signature &&
          section->name_tail_ == name.tail) {
        cursor->current_section = section.get();
        return TokenKind::kSectionHeader;
      }
    }
    return TokenKind::kUnrecognizedName;
  }
  std::memcpy(cursor->token_text, p, length);
  cursor->token_text[length] = '\0';
  cursor->token_length = length;
  for (const auto& section : document.sections_) {
    if (IsSectionName(p, length, section->name_)) {
      cursor->current_section = section.get();
      return TokenKind::kSectionHeader;
    }
  }
  return TokenKind::kUnrecognizedName;
}

TokenKind NextToken(const SettingsDocumentBase& document,
                    SettingsCursor* cursor) {
  cursor->token_start = cursor->position;
  for (;;) {
    SkipBlanks(cursor);
    if (cursor->position >= cursor->end) return TokenKind::kEnd;
    const uint8_t char_class = ClassOf(*cursor->position);
    // Most tokens that a scan starts on are keys.
    if (char_class == kNameStart) [[likely]]
      return ReadName(cursor);
    switch (char_class) {
      case kEqualsSign:
        return SingleCharacter(cursor, TokenKind::kEquals);
      case kMinus:
      case kNumberChar:
        return ReadNumber(cursor);
      case kQuote:
        return ReadString(cursor);
      case kOpenBracket: {
        TokenKind kind = ReadSectionHeader(document, cursor);
        if (kind != TokenKind::kEnd) ++cursor->position;  // past the "]"
        return kind;
      }
      case kSlash:
        if (SkipSlashForm(cursor)) continue;
        break;
      case kStar:
        if (!StartsWith(*cursor, "*/", 2)) break;
        if (CloseBlockOrStop(cursor)) continue;
        return TokenKind::kEnd;
      default:
        break;
    }
    return SingleCharacter(cursor, TokenKind::kPunctuation);
  }
}

namespace {

// How many of the eight bytes of `word` lead as ASCII digits, and their
// value: a word at a time, since a value's length varies line by line and
// a loop over its digits mispredicts its end.
size_t LeadingDigits(uint64_t word, uint32_t* value) {
  const uint64_t digits = BytesInRange(word & ~kHighBits, '0', '9') & ~word;
  const uint64_t stops = digits ^ kHighBits;
  const size_t count =
      stops == 0 ? 8 : static_cast<size_t>(std::countr_zero(stops)) / 8;
  if (count == 0) return 0;
  // The digits in the top bytes, zeros (leading ones) below them, then
  // pairs, fours and eights of digits combined.
  uint64_t v = (word ^ (kOnes * '0')) << (8 * (8 - count));
  v = (v * 10 + (v >> 8)) & 0x00ff00ff00ff00ff;
  v = (v * 100 + (v >> 16)) & 0x0000ffff0000ffff;
  v = (v * 10000 + (v >> 32)) & 0xffffffff;
  *value = static_cast<uint32_t>(v);
  return count;
}

// A number of one to eight digits, with its sign, that ends at a byte
// continuing no number, with room to read it a word at a time: nearly every
// value. False, and nothing stored, for ReadIntegerAtPosition to read any
// other shape.
inline bool ReadShortInteger(const char* p, const char* end,
                             const char** after, int32_t* value) {
  if (end - p < 16) return false;
  const bool negative = *p == '-';
  p += negative;
  uint32_t magnitude = 0;
  const size_t digits = LeadingDigits(LoadWord(p), &magnitude);
  if (digits == 0 || (TableOf(p[digits]) & kNumberBit) != 0) {
    return false;
  }
  *after = p + digits;
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}

// The known key of at most 15 bytes that starts at `key`, a name start
// with 16 bytes readable from it, with "=" right behind it: its entry, its
// index in `index` and its length in `length`. Null otherwise.
inline const SettingsEntry* FindKeyBeforeEquals(const KeyTable& table,
                                                const char* key,
                                                size_t* index,
                                                size_t* length) {
  *length = OffsetOfEquals(key);
  if (*length == 0) return nullptr;
  // Keys are declared in small letters and written as declared, so the
  // bytes as they are find nearly every key without folding their case;
  // either lookup finds the same entry.
  const NameKey as_written = KeyOfNameAsWritten(key, *length);
  if (IsVersionKeyword(as_written)) return nullptr;
  const SettingsEntry* entry =
      FindKey(table, key, *length, as_written, index);
  if (entry != nullptr) return entry;
  const NameKey name = KeyOfName(key, *length, 16);
  if (IsVersionKeyword(name)) return nullptr;
  return FindKey(table, key, *length, name, index);
}

// Past the blanks that lead a line: most lines follow a CR LF.
inline const char* PastLineBlanks(const char* p, const char* end) {
  if (end - p >= 2 && p[0] == '\r' && p[1] == '\n') p += 2;
  while (p < end && ClassOf(*p) == kBlank) ++p;
  return p;
}

// Where the next line's key would start, past the blanks, when a name
// starts there with room for the two words a short name is read with; null
// otherwise. A written file has its key right behind the CR LF, which is
// told from one look.
inline const char* KeyStart(const char* p, const char* end) {
  if (end - p >= 18 && std::memcmp(p, "\r\n", 2) == 0 &&
      ClassOf(p[2]) == kNameStart) {
    return p + 2;
  }
  p = PastLineBlanks(p, end);
  return end - p >= 16 && ClassOf(*p) == kNameStart ? p : nullptr;
}

}  // namespace

bool ReadIntegerAtPosition(SettingsCursor* cursor, int32_t* value) {
  const char* p = cursor->position;
  if (p == cursor->end) return false;
  const uint8_t char_class = ClassOf(*p);
  if (char_class != kNumberChar && char_class != kMinus) return false;
  cursor->token_start = p;
  const bool negative = *p == '-';
  if (negative) ++p;
  size_t room = static_cast<size_t>(cursor->end - p);
  if (room > kTokenTextLimit - negative) room = kTokenTextLimit - negative;
  const char* const limit = p + room;
  // Unsigned, so that overlong numbers wrap around in 32 bits as
  // NumberToInteger does.
  uint32_t magnitude = 0;
  bool more_digits = true;
  if (room >= 8) {
    const size_t digits = LeadingDigits(LoadWord(p), &magnitude);
    p += digits;
    more_digits = digits == 8;
  }
  for (; more_digits && p < limit && *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10u + static_cast<uint32_t>(*p - '0');
  }
  // The rest of the run is the token's but no longer the value's.
  while (p < limit && (TableOf(*p) & kNumberBit) != 0) ++p;
  cursor->position = p;
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}

namespace {

// The closing quote of the quoted text that starts at `quote`, found a
// word at a time within its first 64 bytes or so, and in `escaped` whether
// a backslash comes before it: nearly every name, profile and folder. Null
// when it is not found there, for ReadString, which gives the same span
// wherever this finds one.
inline const char* QuotedTextEnd(const char* quote, const char* end,
                                 bool* escaped) {
  const char* p = quote + 1;
  const char* const limit = p + 64;
  *escaped = false;
  while (end - p >= 8 && p < limit) {
    const uint64_t word = LoadWord(p);
    const uint64_t stops =
        BytesEqualTo(word, '"') | BytesEqualTo(word, '\\');
    if (stops == 0) {
      p += 8;
      continue;
    }
    const char* const stop = p + std::countr_zero(stops) / 8;
    if (*stop == '"') return stop;
    *escaped = true;
    p = stop + 2;  // past the backslash and the byte it keeps
  }
  return nullptr;
}

// Stores the value that stands right behind a key's "=" into its field
// when it has the usual shape (a short number for an integer key, a short
// quoted text for a text key), and gives the position right behind it.
// Null, and nothing stored, otherwise.
inline const char* ReadUsualValue(const SettingsEntry& entry,
                                  const char* value, const char* end,
                                  void* record, SettingsCursor* cursor) {
  const char* after = nullptr;
  if (entry.value_type != ValueType::kText) {
    int32_t not_kept = 0;
    int32_t* const field = entry.field_offset == kNotKept
                               ? &not_kept
                               : IntegerField(record, entry);
    return ReadShortInteger(value, end, &after, field) ? after : nullptr;
  }
  bool escaped = false;
  const char* const close = value < end && *value == '"'
                                ? QuotedTextEnd(value, end, &escaped)
                                : nullptr;
  if (close == nullptr) return nullptr;
  cursor->value_begin = value + 1;
  cursor->value_end = close;
  cursor->value_escaped = escaped;
  if (entry.field_offset != kNotKept) {
    std::string* const field = TextField(record, entry);
    field->assign(value + 1, close);
    if (escaped) Unescape(field);
  }
  return close + 1;
}

// What the cursor holds after the "=" of `entry` and the token at `value`.
inline void SetKeyRead(SettingsCursor* cursor, const SettingsEntry* entry,
                       size_t index, const char* token_start,
                       const char* position) {
  cursor->current_entry = entry;
  cursor->current_entry_index = index;
  cursor->token_start = token_start;
  cursor->position = position;
}

}  // namespace

const SettingsEntry* ReadKnownKeyLines(SettingsCursor* cursor, void* record,
                                       uint64_t* seen) {
  const KeyTable table(*cursor->current_section);
  const char* const end = cursor->end;
  const char* p = cursor->position;
  // The line read last, told to the cursor only when the run stops: stores
  // into it on every line showed in the reader's instruction count.
  const SettingsEntry* read_entry = nullptr;
  size_t read_index = 0;
  const char* read_value = nullptr;
  for (;;) {
    const char* const key = KeyStart(p, end);
    if (key == nullptr) break;
    size_t index = 0;
    size_t length = 0;
    const SettingsEntry* const entry =
        FindKeyBeforeEquals(table, key, &index, &length);
    if (entry == nullptr) break;
    seen[index / 64] |= uint64_t{1} << (index % 64);
    const char* const value = key + length + 1;
    const char* const after = ReadUsualValue(*entry, value, end, record, cursor);
    if (after == nullptr) {
      SetKeyRead(cursor, entry, index, value - 1, value);
      return entry;
    }
    read_entry = entry;
    read_index = index;
    read_value = value;
    p = after;
  }
  if (read_entry != nullptr) {
    SetKeyRead(cursor, read_entry, read_index, read_value, p);
  }
  return nullptr;
}

TokenKind NextTokenExpecting(const SettingsDocumentBase& document,
                             SettingsCursor* cursor, TokenKind expected) {
  if (cursor->position < cursor->end) {
    const uint8_t char_class = ClassOf(*cursor->position);
    if (expected == TokenKind::kNumber &&
        (char_class == kNumberChar || char_class == kMinus)) {
      cursor->token_start = cursor->position;
      return ReadNumber(cursor);
    }
    if (expected == TokenKind::kString && char_class == kQuote) {
      cursor->token_start = cursor->position;
      return ReadString(cursor);
    }
  }
  return NextToken(document, cursor);
}

}  // namespace corvana
