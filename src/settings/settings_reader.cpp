#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "logging/log.h"
#include "logging/log_lines.h"
#include "platform/fs.h"
#include "settings/settings_document.h"

namespace corvana {
namespace {

// One bit per entry of a section, without a heap allocation for the usual
// few dozen keys.
class SeenSet {
 public:
  explicit SeenSet(size_t count) : count_(count) {
    if (count_ > 64 * kInlineWords) {
      heap_ = std::make_unique<uint64_t[]>(WordCount());
    }
  }
  void Clear() { std::fill_n(words(), WordCount(), uint64_t{0}); }
  void Mark(size_t index) {
    words()[index / 64] |= uint64_t{1} << (index % 64);
  }
  // One bit per entry, 64 to a word, for the tokenizer to mark.
  uint64_t* words() { return heap_ ? heap_.get() : inline_; }
  const uint64_t* words() const { return heap_ ? heap_.get() : inline_; }

  // Calls apply(index) for every entry not marked and marked in `only` (a
  // word per 64 entries, as here, with no bit past the last entry), in
  // declaration order.
  template <class Apply>
  void ForEachUnseenOf(const uint64_t* only, Apply apply) const {
    // In locals: apply's stores could otherwise be taken to change them.
    const uint64_t* const bits = words();
    const size_t word_count = WordCount();
    for (size_t w = 0; w < word_count; ++w) {
      for (uint64_t unseen = ~bits[w] & only[w]; unseen != 0;
           unseen &= unseen - 1) {
        apply(64 * w + static_cast<unsigned>(std::countr_zero(unseen)));
      }
    }
  }

 private:
  static constexpr size_t kInlineWords = 2;
  size_t WordCount() const { return (count_ + 63) / 64; }

  size_t count_;
  uint64_t inline_[kInlineWords] = {};
  std::unique_ptr<uint64_t[]> heap_;
};

// An integer field and a text field never share their bytes, so the two
// kinds can be stored apart, each in declaration order.
void ApplyDefaults(void* record, const SettingsSectionBase& section,
                   const SeenSet& seen) {
  // Held apart from the section: a store into the record could otherwise be
  // taken to change the section, which is then loaded again per entry.
  const SettingsSectionBase::FieldDefault* const defaults =
      section.defaults_.data();
  char* const bytes = static_cast<char*>(record);
  seen.ForEachUnseenOf(section.kept_integers_.data(), [&](size_t index) {
    std::memcpy(bytes + defaults[index].field_offset, &defaults[index].value,
                sizeof(int32_t));
  });
  seen.ForEachUnseenOf(section.kept_texts_.data(), [&](size_t index) {
    reinterpret_cast<std::string*>(bytes + defaults[index].field_offset)
        ->clear();
  });
}

bool ReadValueAfterEquals(const SettingsDocumentBase& document, void* record,
                          const SettingsEntry& entry, SettingsCursor* cursor);

// Wherever another kind comes than the one expected, the value fails
// without a message.
bool ReadValue(const SettingsDocumentBase& document, void* record,
               const SettingsEntry& entry, SettingsCursor* cursor) {
  return NextTokenExpectingEquals(document, cursor) == TokenKind::kEquals &&
         ReadValueAfterEquals(document, record, entry, cursor);
}

bool ReadValueAfterEquals(const SettingsDocumentBase& document, void* record,
                          const SettingsEntry& entry, SettingsCursor* cursor) {
  if (entry.value_type == ValueType::kText) {
    if (NextTokenExpecting(document, cursor, TokenKind::kString) !=
        TokenKind::kString) {
      return false;
    }
    if (entry.field_offset == kNotKept) return true;
    std::string* field = TextField(record, entry);
    field->assign(cursor->value_begin, cursor->value_end);
    if (cursor->value_escaped) Unescape(field);
    return true;
  }
  int32_t not_kept = 0;
  int32_t* field =
      entry.field_offset == kNotKept ? &not_kept : IntegerField(record, entry);
  if (ReadIntegerAtPosition(cursor, field)) return true;
  if (NextToken(document, cursor) != TokenKind::kNumber) return false;
  *field = NumberToInteger(cursor->token_text);
  return true;
}

}  // namespace

int32_t NumberToInteger(const char* text) {
  bool negative = *text == '-';
  if (negative) ++text;
  // Unsigned, so that overlong numbers wrap around in 32 bits the way the
  // analyzer's own reader does, without signed overflow.
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10u + static_cast<uint32_t>(*text - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

namespace {

// A number of at most 15 digits with a point inside, or none, as nearly
// every format version is written: the digits and the power of ten are
// both exact doubles, so one division rounds as from_chars would, for a
// tenth of its cost. False for any other shape.
bool ShortDecimal(const char* text, double* value) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,
                                            1e6, 1e7, 1e8,  1e9,  1e10, 1e11,
                                            1e12, 1e13, 1e14, 1e15};
  const bool negative = *text == '-';
  uint64_t digits = 0;
  int count = 0;
  int fraction = -1;  // digits after the point; -1 before it
  for (const char* p = text + negative; *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') {
      if (++count > 15) return false;
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
      if (fraction >= 0) ++fraction;
    } else if (*p == '.' && fraction < 0 && count > 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (count == 0 || fraction == 0) return false;
  const double magnitude = static_cast<double>(digits) /
                           kPowersOfTen[fraction < 0 ? 0 : fraction];
  *value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace

double NumberToReal(const char* text) {
  double short_value = 0.0;
  if (ShortDecimal(text, &short_value)) return short_value;
  // from_chars ignores the locale: a comma never becomes the decimal point,
  // it ends the number.
  double value = 0.0;
  const char* end = text + std::strlen(text);
  const std::errc error =
      std::from_chars(text, end, value, std::chars_format::fixed).ec;
  if (error == std::errc::result_out_of_range) {
    // Too large or too small for a double: infinity or zero, with its sign.
    const char* digits = text + (*text == '-' ? 1 : 0);
    while (*digits == '0') ++digits;
    const bool large = *digits >= '1' && *digits <= '9';
    value = large ? std::numeric_limits<double>::infinity() : 0.0;
    return *text == '-' ? -value : value;
  }
  return error == std::errc() ? value : 0.0;
}

void Unescape(std::string* text) {
  char* const data = text->data();
  const char* const end = data + text->size();
  const char* in =
      static_cast<const char*>(std::memchr(data, '\\', text->size()));
  if (in == nullptr) return;
  char* out = data + (in - data);
  // `in` is at a backslash: keep what follows it, then move the plain run up
  // to the next backslash in one piece.
  while (in < end) {
    if (in + 1 < end) ++in;  // a backslash at the very end stays
    *out++ = *in++;
    const char* next = static_cast<const char*>(
        std::memchr(in, '\\', static_cast<size_t>(end - in)));
    const char* stop = next == nullptr ? end : next;
    std::memmove(out, in, static_cast<size_t>(stop - in));
    out += stop - in;
    in = stop;
  }
  text->resize(static_cast<size_t>(out - data));
}

void ReportProjectError(const SettingsCursor& cursor) {
  constexpr size_t kMaxShown = 119;
  const char* p = cursor.token_start;
  while (p < cursor.end && (*p == '\n' || *p == '\r')) ++p;
  const char* begin = p;
  while (p < cursor.end && static_cast<size_t>(p - begin) < kMaxShown &&
         *p != '\n' && *p != '\r' && *p != '\0') {
    ++p;
  }
  // The log shows the user's bytes escaped.
  std::string message = log_line::kProjectError;
  message.append(begin, static_cast<size_t>(p - begin));
  WriteLog(message);
}

TokenKind ReadSection(const SettingsDocumentBase& document, void* record,
                      const SettingsSectionBase& section,
                      SettingsCursor* cursor) {
  SeenSet seen(section.entries_.size());
  for (;;) {
    if (const SettingsEntry* entry = ReadKnownKeyLines(cursor, record, seen.words())) {
      if (!ReadValueAfterEquals(document, record, *entry, cursor)) {
        return TokenKind::kError;
      }
      continue;
    }
    TokenKind kind = NextToken(document, cursor);
    switch (kind) {
      case TokenKind::kEnd:
      case TokenKind::kError:
        cursor->current_section = nullptr;
        ApplyDefaults(record, section, seen);
        return kind;
      case TokenKind::kSectionHeader:
        ApplyDefaults(record, section, seen);
        // The same section again, as in a file of many: read on here
        // rather than through the caller, which would begin it anew.
        if (cursor->current_section == &section) {
          seen.Clear();
          continue;
        }
        return kind;
      case TokenKind::kKnownKey: {
        const SettingsEntry& entry = *cursor->current_entry;
        seen.Mark(cursor->current_entry_index);
        if (!ReadValue(document, record, entry, cursor)) {
          return TokenKind::kError;
        }
        continue;
      }
      default:
        ReportProjectError(*cursor);
        cursor->current_section = nullptr;
        ApplyDefaults(record, section, seen);
        return kind;
    }
  }
}

// A definition takes a few hundred bytes. Users write these files, and a
// sparse one of gigabytes would cost its whole size in memory at every
// reload.
constexpr size_t kMaxSettingsFileBytes = size_t{1} << 20;

namespace {

void FailWith(SettingsFailure* failure, const char* reason) {
  if (failure != nullptr) *failure = {0, {}, reason};
}

}  // namespace

bool ReadWholeFile(const platform::HeldFolder& folder, const char* name,
                   int read_mode, SettingsText* text,
                   SettingsFailure* failure) {
  (void)read_mode;  // every read mode in use logs as ordinary
  // One open, one size query and one read: a reload reads every definition.
  switch (platform::ReadWholeRegularFileIn(folder, name, /*text_mode=*/true,
                                           kMaxSettingsFileBytes, &text->data,
                                           &text->length)) {
    case platform::ReadWholeResult::kRead:
      return true;
    case platform::ReadWholeResult::kCannotOpen:
      WriteLog(log_line::kCannotOpen + folder.path() + name +
               log_line::kCannotOpenEnd);
      FailWith(failure,
               "it cannot be opened (missing, not a regular file, or not allowed)");
      return false;
    case platform::ReadWholeResult::kCannotRead:
      WriteLog(log_line::kCannotRead + folder.path() + name +
               log_line::kCannotReadEnd);
      FailWith(failure, "it cannot be read");
      return false;
    case platform::ReadWholeResult::kTooLarge:
      // The log's line stays as it always was; the operator is told which.
      WriteLog(log_line::kCannotRead + folder.path() + name +
               log_line::kCannotReadEnd);
      FailWith(failure, "it is over 1 MiB");
      return false;
    case platform::ReadWholeResult::kNoMemory:
      break;
  }
  FailWith(failure, "no memory to read it");
  return false;
}

// Whether no two different keys start their probe at the same one of
// mask + 1 slots.
bool HomesApart(const std::vector<SettingsEntry>& entries, size_t mask) {
  std::vector<const SettingsEntry*> owners(mask + 1, nullptr);
  for (const SettingsEntry& entry : entries) {
    const SettingsEntry*& owner =
        owners[KeySlot(entry.key_signature, entry.key_tail, mask)];
    if (owner != nullptr && (owner->key_signature != entry.key_signature ||
                             owner->key_tail != entry.key_tail)) {
      return false;
    }
    owner = &entry;
  }
  return true;
}

// At most half full, and grown within a bound until every key has its first
// slot to itself: a lookup then settles on its first probe, where a
// collision cost a mispredicted branch on every line of that key.
size_t KeySlotCount(const std::vector<SettingsEntry>& entries) {
  constexpr size_t kMaxSlots = 1024;
  size_t count = std::bit_ceil(2 * entries.size());
  while (count < kMaxSlots && !HomesApart(entries, count - 1)) count *= 2;
  return count;
}

namespace {

// The token's start: a token's start is taken before the blanks ahead of it.
const char* PastBlanks(const SettingsCursor& cursor) {
  const char* at = cursor.token_start;
  while (at < cursor.end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')) ++at;
  return at;
}

// Where the scan stopped, said for an operator: only a failed load pays for
// counting the lines.
class FailureAt {
 public:
  FailureAt(const char* text, const SettingsCursor& cursor)
      : text_(text), cursor_(cursor) {}

  // At the token the scan stopped on, past the blanks before it.
  void AtToken(const char* reason, SettingsFailure* failure) const {
    At(PastBlanks(cursor_), reason, failure);
  }

  // At the value of the key the scan read last: it lies on that key's line,
  // even where nothing follows the "=" there.
  void AtValue(SettingsFailure* failure) const {
    const SettingsEntry& entry = *cursor_.current_entry;
    const bool text = entry.value_type == ValueType::kText;
    const char* at = cursor_.token_start;
    const bool unclosed = text && at < cursor_.end && *at == '"';
    At(at,
       (entry.key + (unclosed ? "'s text has no closing quote"
                     : text   ? " is not a quoted text"
                              : " is not a number")).c_str(),
       failure);
  }

 private:
  void At(const char* at, const char* reason, SettingsFailure* failure) const {
    constexpr size_t kMaxShown = 119;
    if (at > cursor_.end) at = cursor_.end;
    const char* begin = at;
    while (begin > text_ && begin[-1] != '\n' && begin[-1] != '\r') --begin;
    const char* end = begin;
    while (end < cursor_.end && static_cast<size_t>(end - begin) < kMaxShown &&
           *end != '\n' && *end != '\r' && *end != '\0') {
      ++end;
    }
    failure->line = 1 + static_cast<int>(std::count(text_, begin, '\n'));
    failure->text.assign(begin, end);
    failure->reason = reason;
  }

  const char* text_;
  const SettingsCursor& cursor_;
};

// Why the scan stopped at a token no section takes.
const char* StrayReason(const SettingsCursor& cursor, TokenKind kind) {
  if (kind != TokenKind::kUnrecognizedName) return "not a key, a value or a section";
  const char* at = PastBlanks(cursor);
  return at < cursor.end && *at == '[' ? "no such section" : "no such key";
}

}  // namespace

namespace settings_core {

void AddEntry(SettingsSectionBase* section, ValueType type, const char* key,
              size_t field_offset, int32_t default_value) {
  SettingsEntry entry;
  entry.value_type = type;
  entry.key = key;
  entry.field_offset = field_offset;
  entry.default_value = default_value;
  entry.key_signature = NameSignature(entry.key.data(), entry.key.size());
  entry.key_tail = NameTail(entry.key.data(), entry.key.size());
  section->entries_.push_back(std::move(entry));
  const size_t index = section->entries_.size() - 1;
  section->defaults_.push_back({static_cast<uint32_t>(field_offset),
                                type == ValueType::kText ? 0 : default_value});
  section->kept_integers_.resize(index / 64 + 1, 0);
  section->kept_texts_.resize(index / 64 + 1, 0);
  if (field_offset != kNotKept) {
    std::vector<uint64_t>& kept =
        type == ValueType::kText ? section->kept_texts_ : section->kept_integers_;
    kept[index / 64] |= uint64_t{1} << (index % 64);
  }
  // Rebuilt whole: a document is declared once, with a few dozen keys.
  std::vector<uint32_t>& slots = section->key_slots_;
  slots.assign(KeySlotCount(section->entries_), 0);
  const size_t mask = slots.size() - 1;
  for (size_t i = 0; i < section->entries_.size(); ++i) {
    const SettingsEntry& added = section->entries_[i];
    size_t slot = KeySlot(added.key_signature, added.key_tail, mask);
    while (slots[slot] != 0) slot = (slot + 1) & mask;
    slots[slot] = static_cast<uint32_t>(i + 1);
  }
}

bool ParseSettings(const SettingsDocumentBase& document, void* record,
                   const char* text, size_t length,
                   SettingsFailure* failure) {
  SettingsCursor cursor(text, length);
  const FailureAt failed(text, cursor);
  if (NextToken(document, &cursor) != TokenKind::kVersionKeyword ||
      NextToken(document, &cursor) != TokenKind::kEquals ||
      NextToken(document, &cursor) != TokenKind::kNumber) {
    if (failure != nullptr) {
      failed.AtToken(length == 0 ? "the file is empty"
                                 : "FormatVersion=<number> must come first",
                     failure);
    }
    return false;
  }
  if (NumberToReal(cursor.token_text) != document.format_version_) {
    WriteLog(log_line::kBadVersion);
    if (failure != nullptr) failed.AtToken("not the version this reader takes", failure);
    return false;
  }
  TokenKind kind = NextToken(document, &cursor);
  while (kind == TokenKind::kSectionHeader) {
    kind = ReadSection(document, record, *cursor.current_section, &cursor);
  }
  if (kind == TokenKind::kEnd) return true;
  if (failure == nullptr) return false;
  if (kind == TokenKind::kError) {
    failed.AtValue(failure);
  } else {
    failed.AtToken(StrayReason(cursor, kind), failure);
  }
  return false;
}

bool LoadSettings(const SettingsDocumentBase& document, void* record,
                  const platform::HeldFolder& folder, const char* name,
                  int read_mode, SettingsFailure* failure) {
  const size_t name_length = std::strlen(name);
  if (folder.path().empty() && name_length == 0) return false;
  // Two writes a file in a reload: the line is built in one allocation.
  std::string line;
  line.reserve(sizeof log_line::kLoadSettings + folder.path().size() +
               name_length + sizeof log_line::kLoadSettingsEnd);
  WriteLog(line.append(log_line::kLoadSettings)
               .append(folder.path())
               .append(name, name_length)
               .append(log_line::kLoadSettingsEnd));
  SettingsText text;
  if (!ReadWholeFile(folder, name, read_mode, &text, failure)) return false;
  bool parsed =
      ParseSettings(document, record, text.data.get(), text.length, failure);
  text.data.reset();
  if (!parsed) return false;
  WriteLog(log_line::kLoadSettingsOk);
  return true;
}

}  // namespace settings_core
}  // namespace corvana
