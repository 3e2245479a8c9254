// The settings format's model as the reader sees it: sections and keys by
// name, each key reaching its field of the caller's record at its offset.
// The typed front (settings_document.h) builds it; everything here
// is free of the record type so that the tokenizer and the grammar are
// compiled once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace corvana {

enum class ValueType { kText, kInt, kLong };

// Where a field lies inside its record, in bytes, taken from a record made
// for the purpose so that the member pointer is applied to a real object.
// Entries reach their fields through it rather than through a virtual
// accessor: a load touches every field of a section, and an indirect call
// per field showed in the reader's throughput.
template <class Record, class Field>
size_t FieldOffset(Field Record::*member) {
  static_assert(std::is_same_v<Field, std::string> ||
                    std::is_same_v<Field, int32_t>,
                "settings fields are std::string or int32_t");
  const Record probe{};
  return static_cast<size_t>(reinterpret_cast<const char*>(&(probe.*member)) -
                             reinterpret_cast<const char*>(&probe));
}

// Up to eight bytes of a name, ASCII letters in lower case, packed into one
// word (first byte lowest).
constexpr uint64_t PackLowered(const char* bytes, size_t count) {
  uint64_t word = 0;
  for (size_t i = 0; i < count && i < 8; ++i) {
    uint8_t c = static_cast<uint8_t>(bytes[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
    word |= static_cast<uint64_t>(c) << (8 * i);
  }
  return word;
}

// A name's length and its first seven bytes, lowered, in one word, and the
// next eight in a second: names of up to 15 bytes that are equal ignoring
// case have equal signatures and tails, and only those, so finding a key
// compares two words instead of strings.
constexpr uint64_t NameSignature(const char* name, size_t length) {
  return PackLowered(name, length < 7 ? length : 7) |
         (static_cast<uint64_t>(length < 255 ? length : 255) << 56);
}
constexpr uint64_t NameTail(const char* name, size_t length) {
  return length > 7 ? PackLowered(name + 7, length - 7) : 0;
}

// Where a probe for a key with this signature and tail starts in a table of
// mask + 1 slots.
inline size_t KeySlot(uint64_t signature, uint64_t tail, size_t mask) {
  return static_cast<size_t>(((signature ^ (tail << 1)) * 0x9E3779B97F4A7C15) >>
                             40) &
         mask;
}

// The field offset of a key that is checked as its type says and then let
// go: the files carry it, and nothing in the scheduler uses its value.
inline constexpr size_t kNotKept = SIZE_MAX;

struct SettingsEntry {
  ValueType value_type = ValueType::kInt;
  std::string key;
  size_t field_offset = 0;  // FieldOffset of the bound member, or kNotKept
  int32_t default_value = 0;
  // NameSignature and NameTail of key, set by AddEntry.
  uint64_t key_signature = 0;
  uint64_t key_tail = 0;
};

// The field of `record` that `entry` is bound to; the entry's value type
// says which of the two it is.
inline std::string* TextField(void* record, const SettingsEntry& entry) {
  return reinterpret_cast<std::string*>(static_cast<char*>(record) +
                                        entry.field_offset);
}
inline int32_t* IntegerField(void* record, const SettingsEntry& entry) {
  return reinterpret_cast<int32_t*>(static_cast<char*>(record) +
                                    entry.field_offset);
}

class SettingsSectionBase {
 public:
  explicit SettingsSectionBase(std::string section_name)
      : name_(std::move(section_name)),
        name_signature_(NameSignature(name_.data(), name_.size())),
        name_tail_(NameTail(name_.data(), name_.size())) {}
  virtual ~SettingsSectionBase() = default;
  SettingsSectionBase(const SettingsSectionBase&) = delete;
  SettingsSectionBase& operator=(const SettingsSectionBase&) = delete;

  std::string name_;
  // NameSignature and NameTail of name_: a header of up to 15 bytes is
  // matched by two words.
  uint64_t name_signature_;
  uint64_t name_tail_;
  std::vector<SettingsEntry> entries_;
  // Open addressing over KeySlot of the entries' keys, at most half full:
  // index + 1 of an entry, 0 for none. AddEntry fills it in declaration
  // order, so keys that repeat are met in that order along a probe.
  std::vector<uint32_t> key_slots_;
  // Per entry, its field's offset and default, and one bit (64 to a word)
  // per kept integer entry and per kept text entry, set by AddEntry: the
  // defaults for the keys a section leaves out are stored from these few
  // packed bytes, every section of a file, and a key that is not kept has
  // no bit, so that storing them tests nothing per entry.
  struct FieldDefault {
    uint32_t field_offset;
    int32_t value;
  };
  std::vector<FieldDefault> defaults_;
  std::vector<uint64_t> kept_integers_;
  std::vector<uint64_t> kept_texts_;
};

class SettingsDocumentBase {
 public:
  SettingsDocumentBase() = default;
  SettingsDocumentBase(std::string document_title, double format_version)
      : title_(std::move(document_title)), format_version_(format_version) {}

  std::string title_;
  double format_version_ = 1.0;
  // Owned one by one so that a section keeps its address while more are
  // added: callers hold on to the reference AddSection gave them.
  std::vector<std::unique_ptr<SettingsSectionBase>> sections_;
};

}  // namespace corvana
