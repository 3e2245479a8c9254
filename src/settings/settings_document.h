// A settings document describes one kind of settings file: its title, the
// format version it accepts, its sections and, per section, the keys it
// knows, each bound to a field of the caller's record. Loading stores every
// value straight into the record; there is no tree of the file in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/fs.h"
#include "settings/settings_model.h"
#include "settings/settings_tokenizer.h"

namespace corvana {

// The tags carry the value type into the type system: a Text key bound to an
// integer field, or an Int/Long key bound to a string, does not compile.
struct TextTag {};
struct IntTag {};
struct LongTag {};
inline constexpr TextTag kText{};
inline constexpr IntTag kInt{};
inline constexpr LongTag kLong{};

template <class Record>
class SettingsSection final : public SettingsSectionBase {
 public:
  using SettingsSectionBase::SettingsSectionBase;
};

template <class Record>
class SettingsDocument final : public SettingsDocumentBase {
 public:
  SettingsDocument() = default;
  SettingsDocument(std::string title, double format_version)
      : SettingsDocumentBase(std::move(title), format_version) {}
};

// A file's text, zero-terminated after `length` bytes.
struct SettingsText {
  std::unique_ptr<char[]> data;
  size_t length = 0;
};

// Why a file did not load, where the reader can tell: what `schedules`
// shows an operator. The log keeps its own lines.
struct SettingsFailure {
  int line = 0;        // 1-based; 0 when no line is to blame
  std::string text;    // that line as written, at most 119 bytes
  std::string reason;  // "hour is not a number", "the file is over 1 MiB"
};

// The record-free core that the typed front below forwards to.
bool ReadWholeFile(const platform::HeldFolder& folder, const char* name,
                   int read_mode, SettingsText* text,
                   SettingsFailure* failure = nullptr);
TokenKind ReadSection(const SettingsDocumentBase& document, void* record,
                      const SettingsSectionBase& section,
                      SettingsCursor* cursor);
void Unescape(std::string* text);
void ReportProjectError(const SettingsCursor& cursor);
// The conversions of a Number token's text.
int32_t NumberToInteger(const char* text);
double NumberToReal(const char* text);

namespace settings_core {
bool ParseSettings(const SettingsDocumentBase& document, void* record,
                   const char* text, size_t length,
                   SettingsFailure* failure = nullptr);
bool LoadSettings(const SettingsDocumentBase& document, void* record,
                  const platform::HeldFolder& folder, const char* name,
                  int read_mode, SettingsFailure* failure = nullptr);
void AddEntry(SettingsSectionBase* section, ValueType type, const char* key,
              size_t field_offset, int32_t default_value);
}  // namespace settings_core

template <class Record>
SettingsSection<Record>& AddSection(SettingsDocument<Record>& document,
                                    const std::string& name) {
  auto section = std::make_unique<SettingsSection<Record>>(name);
  SettingsSection<Record>& added = *section;
  document.sections_.push_back(std::move(section));
  return added;
}

template <class Record>
void AddEntry(SettingsSection<Record>& section, TextTag, const char* key,
              std::type_identity_t<std::string Record::*> field) {
  settings_core::AddEntry(&section, ValueType::kText, key, FieldOffset(field),
                          0);
}

template <class Record>
void AddEntry(SettingsSection<Record>& section, IntTag, const char* key,
              std::type_identity_t<int32_t Record::*> field,
              int32_t default_value = 0) {
  settings_core::AddEntry(&section, ValueType::kInt, key, FieldOffset(field),
                          default_value);
}

template <class Record>
void AddEntry(SettingsSection<Record>& section, LongTag, const char* key,
              std::type_identity_t<int32_t Record::*> field,
              int32_t default_value = 0) {
  settings_core::AddEntry(&section, ValueType::kLong, key, FieldOffset(field),
                          default_value);
}

// A key of the files whose value the scheduler never uses: read and checked
// as its type says, so that a file loads or fails as it always did, and
// not kept, so that a held list of 100,000 definitions does not carry it.
template <class Record>
void AddNotKeptEntry(SettingsSection<Record>& section, TextTag, const char* key) {
  settings_core::AddEntry(&section, ValueType::kText, key, kNotKept, 0);
}
template <class Record>
void AddNotKeptEntry(SettingsSection<Record>& section, IntTag, const char* key) {
  settings_core::AddEntry(&section, ValueType::kInt, key, kNotKept, 0);
}
template <class Record>
void AddNotKeptEntry(SettingsSection<Record>& section, LongTag, const char* key) {
  settings_core::AddEntry(&section, ValueType::kLong, key, kNotKept, 0);
}

// True when the file was read and every value stored. A failed load keeps
// what it had stored so far; callers treat the record as not loaded.
// Reads the file `name` in `folder`, named in the log by the folder's path
// and the name. A failed load says why in `failure`, when given.
template <class Record>
bool LoadSettings(const SettingsDocument<Record>& document, Record* record,
                  const platform::HeldFolder& folder, const char* name,
                  int read_mode, SettingsFailure* failure = nullptr) {
  return settings_core::LoadSettings(document, record, folder, name, read_mode,
                                     failure);
}

template <class Record>
bool ParseSettings(const SettingsDocument<Record>& document, Record* record,
                   const char* text, size_t length,
                   SettingsFailure* failure = nullptr) {
  return settings_core::ParseSettings(document, record, text, length, failure);
}

}  // namespace corvana
