#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

#include "logging/log.h"
#include "platform/fs.h"
#include "settings/settings_document.h"

namespace corvana {
namespace {

// Seen flags for a section's entries without a heap allocation in the
// common case of a few dozen keys.
class SeenFlags {
 public:
  explicit SeenFlags(size_t count) : count_(count) {
    if (count_ > kInline) {
      heap_ = std::make_unique<bool[]>(count_);
    } else {
      std::memset(inline_, 0, sizeof inline_);
    }
  }
  bool* data() { return heap_ ? heap_.get() : inline_; }

 private:
  static constexpr size_t kInline = 64;
  size_t count_;
  bool inline_[kInline];
  std::unique_ptr<bool[]> heap_;
};

void ApplyDefaults(void* record, const SettingsSectionBase& section,
                   const bool* seen) {
  for (size_t i = 0; i < section.entries.size(); ++i) {
    if (!seen[i]) ApplyDefault(record, section.entries[i]);
  }
}

// Wherever another kind comes than the one expected, the value fails
// without a message.
bool ReadValue(const SettingsDocumentBase& document, void* record,
               const SettingsEntry& entry, SettingsCursor* cursor) {
  if (NextToken(document, cursor) != TokenKind::Equals) return false;
  if (entry.valueType == ValueType::Text) {
    if (NextToken(document, cursor) != TokenKind::String) return false;
    std::string* field = entry.field->Text(record);
    field->assign(cursor->valueBegin, cursor->valueEnd);
    Unescape(field);
    return true;
  }
  if (NextToken(document, cursor) != TokenKind::Number) return false;
  *entry.field->Integer(record) = NumberToInteger(cursor->tokenText);
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

double NumberToReal(const char* text) {
  // from_chars ignores the locale: a comma never becomes the decimal point,
  // it ends the number.
  double value = 0.0;
  const char* end = text + std::strlen(text);
  auto result = std::from_chars(text, end, value, std::chars_format::fixed);
  return result.ec == std::errc() ? value : 0.0;
}

void Unescape(std::string* text) {
  size_t first = text->find('\\');
  if (first == std::string::npos) return;
  char* data = text->data();
  const size_t length = text->size();
  size_t out = first;
  for (size_t in = first; in < length; ++in) {
    if (data[in] == '\\' && in + 1 < length) ++in;
    data[out++] = data[in];
  }
  text->resize(out);
}

void ApplyDefault(void* record, const SettingsEntry& entry) {
  if (entry.valueType == ValueType::Text) {
    entry.field->Text(record)->clear();
  } else {
    *entry.field->Integer(record) = entry.defaultValue;
  }
}

void ReportProjectError(const SettingsCursor& cursor) {
  constexpr size_t kMaxShown = 119;
  const char* p = cursor.tokenStart;
  while (p < cursor.end && (*p == '\n' || *p == '\r')) ++p;
  const char* begin = p;
  while (p < cursor.end && static_cast<size_t>(p - begin) < kMaxShown &&
         *p != '\n' && *p != '\r' && *p != '\0') {
    ++p;
  }
  std::string message = " Project error, string=";
  message.append(begin, p);
  WriteLog(message, kLogError);
}

TokenKind ReadSection(const SettingsDocumentBase& document, void* record,
                      const SettingsSectionBase& section,
                      SettingsCursor* cursor) {
  SeenFlags flags(section.entries.size());
  bool* seen = flags.data();
  for (;;) {
    TokenKind kind = NextToken(document, cursor);
    switch (kind) {
      case TokenKind::End:
      case TokenKind::Error:
        cursor->currentSection = nullptr;
        ApplyDefaults(record, section, seen);
        return kind;
      case TokenKind::SectionHeader:
        ApplyDefaults(record, section, seen);
        return kind;
      case TokenKind::KnownKey: {
        const SettingsEntry& entry = *cursor->currentEntry;
        seen[cursor->currentEntryIndex] = true;
        if (!ReadValue(document, record, entry, cursor)) {
          return TokenKind::Error;
        }
        continue;
      }
      default:
        ReportProjectError(*cursor);
        cursor->currentSection = nullptr;
        ApplyDefaults(record, section, seen);
        return kind;
    }
  }
}

bool ReadWholeFile(const std::string& path, int read_mode, SettingsText* text) {
  (void)read_mode;  // every read mode in use logs as ordinary
  const uint32_t flags = kLogOrdinary;
  std::FILE* file = platform::OpenRegularFile(path, /*text_mode=*/true);
  if (file == nullptr) {
    WriteLog("Cannot open file '" + path + "'", flags);
    return false;
  }
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  if (size < 0) size = 0;  // unknown size reads as nothing below
  char* buffer = new (std::nothrow) char[static_cast<size_t>(size) + 1]();
  if (buffer == nullptr) {
    std::fclose(file);
    return false;
  }
  text->data.reset(buffer);
  size_t length = 0;
  if (size > 0) {
    length = std::fread(buffer, 1, static_cast<size_t>(size), file);
    if (length == 0) {
      WriteLog("Could not read from file '" + path + "'.", flags);
      std::fclose(file);
      text->data.reset();
      return false;
    }
  }
  buffer[length] = '\0';
  std::fclose(file);
  text->length = length;
  return true;
}

namespace settings_core {

void AddEntry(SettingsSectionBase* section, ValueType type, const char* key,
              std::unique_ptr<const FieldAccessor> field,
              int32_t default_value) {
  SettingsEntry entry;
  entry.valueType = type;
  entry.key = key;
  entry.field = std::move(field);
  entry.defaultValue = default_value;
  section->entries.push_back(std::move(entry));
}

bool ParseSettings(const SettingsDocumentBase& document, void* record,
                   const char* text, size_t length) {
  SettingsCursor cursor(text, length);
  if (NextToken(document, &cursor) != TokenKind::VersionKeyword ||
      NextToken(document, &cursor) != TokenKind::Equals ||
      NextToken(document, &cursor) != TokenKind::Number) {
    return false;
  }
  if (NumberToReal(cursor.tokenText) != document.formatVersion) {
    WriteLog("Bad version project file", kLogSecondChannel);
    return false;
  }
  TokenKind kind = NextToken(document, &cursor);
  while (kind == TokenKind::SectionHeader) {
    kind = ReadSection(document, record, *cursor.currentSection, &cursor);
  }
  return kind == TokenKind::End;
}

bool LoadSettings(const SettingsDocumentBase& document, void* record,
                  const std::string& path, int read_mode) {
  if (path.empty()) return false;
  WriteLog("Load settings '" + path + "'...", kLogOrdinary);
  SettingsText text;
  if (!ReadWholeFile(path, read_mode, &text)) return false;
  bool parsed = ParseSettings(document, record, text.data.get(), text.length);
  text.data.reset();
  if (!parsed) return false;
  WriteLog("Load settings - OK", kLogOrdinary);
  return true;
}

}  // namespace settings_core
}  // namespace corvana
