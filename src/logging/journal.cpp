#include "logging/journal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "environment/app_context.h"
#include "platform/fs.h"

namespace corvana {
namespace {

// A line fits the stream's buffer whole, so that the flush hands it to the
// system in one write: an id is a file name and a folder a path, escaped at
// most sixfold.
constexpr size_t kStreamBufferBytes = size_t{1} << 16;
// What is read of one generation: its cap, and the last line that passed it.
constexpr size_t kReadBoundBytes = kJournalCapBytes + kStreamBufferBytes;

// Most lines fit this, so that a line is built with one allocation.
constexpr size_t kTypicalLineBytes = 256;

const char* TypeName(JournalRecordType type) {
  switch (type) {
    case JournalRecordType::kServiceStart: return "service_start";
    case JournalRecordType::kServiceStop: return "service_stop";
    case JournalRecordType::kRunStart: return "run_start";
    case JournalRecordType::kRunEnd: return "run_end";
  }
  return "";
}

// The length of the valid UTF-8 sequence at text[at], 0 when there is none.
size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
  };
  const auto follows = [&](size_t i, int low, int high) {
    return byte(i) >= low && byte(i) <= high;
  };
  const unsigned char lead = byte(0);
  size_t length = 0;
  bool second_ok = false;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    second_ok = follows(1, 0x80, 0xBF);
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    second_ok = lead == 0xE0   ? follows(1, 0xA0, 0xBF)
                : lead == 0xED ? follows(1, 0x80, 0x9F)
                               : follows(1, 0x80, 0xBF);
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    second_ok = lead == 0xF0   ? follows(1, 0x90, 0xBF)
                : lead == 0xF4 ? follows(1, 0x80, 0x8F)
                               : follows(1, 0x80, 0xBF);
  }
  if (!second_ok) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!follows(i, 0x80, 0xBF)) return 0;
  }
  return length;
}

bool Plain(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

size_t PlainRun(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && Plain(static_cast<unsigned char>(text[end]))) ++end;
  return end - at;
}

void AppendEscaped(std::string_view text, std::string* out) {
  out->push_back('"');
  for (size_t at = 0; at < text.size();) {
    // Most of an id or a folder needs no escape: appended a run at a time.
    const size_t plain = PlainRun(text, at);
    if (plain > 0) {
      out->append(text.substr(at, plain));
      at += plain;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (const size_t length = c >= 0x80 ? Utf8Length(text, at) : 0) {
      out->append(text.substr(at, length));
      at += length;
      continue;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out->append(escape);
    }
    ++at;
  }
  out->push_back('"');
}

void AddString(const char* key, std::string_view value, std::string* out) {
  out->append(",\"").append(key).append("\":");
  AppendEscaped(value, out);
}

void AddNumber(const char* key, int64_t value, std::string* out) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out->append(",\"").append(key).append("\":").append(digits, size_t(end - digits));
}

}  // namespace

const char* JournalKindName(RunKind kind) {
  switch (kind) {
    case RunKind::kSchedule: return "schedule";
    case RunKind::kWebServerUpdate: return "webserver_update";
    case RunKind::kServe: return "serve";
  }
  return "";
}

const char* JournalEndingName(RunEnding ending) {
  switch (ending) {
    case RunEnding::kExited: return "exited";
    case RunEnding::kTimeLimit: return "time_limit";
    case RunEnding::kNotStarted: return "not_started";
    case RunEnding::kServiceStopped: return "service_stopped";
  }
  return "";
}

std::string FormatJournalLine(const JournalRecord& record) {
  std::string line;
  line.reserve(kTypicalLineBytes);
  line.append("{\"record\":\"").append(TypeName(record.type)).push_back('"');
  AddNumber("time_s", record.time_s, &line);
  AddNumber("utc_offset_s", record.utc_offset_s, &line);
  switch (record.type) {
    case JournalRecordType::kServiceStart:
    case JournalRecordType::kServiceStop:
      AddString("version", record.version, &line);
      AddString("data_folder", record.data_folder, &line);
      break;
    case JournalRecordType::kRunStart:
    case JournalRecordType::kRunEnd:
      AddString("kind", JournalKindName(record.kind), &line);
      AddString("id", record.id, &line);
      break;
  }
  if (record.type == JournalRecordType::kRunStart) {
    AddString("file", record.file, &line);
    AddNumber("pid", record.pid, &line);
    if (record.missed_s != 0) AddNumber("missed_s", record.missed_s, &line);
  } else if (record.type == JournalRecordType::kRunEnd) {
    AddString("ended", JournalEndingName(record.ending), &line);
    if (record.exit_code) AddNumber("exit_code", *record.exit_code, &line);
    AddNumber("duration_s", record.duration_s, &line);
    if (!record.cause.empty()) AddString("cause", record.cause, &line);
  }
  line.append("}\n");
  return line;
}

namespace {

// The bytes a string holds as they are: all but the quote, the backslash
// and the controls, looked up rather than compared three times a byte.
constexpr auto kUnescaped = [] {
  std::array<bool, 256> table{};
  for (int c = 0x20; c < 256; ++c) table[c] = c != '"' && c != '\\';
  return table;
}();

// Where the bytes a string holds as they are end, from `at`: eight bytes
// are looked at together, for a full journal is a megabyte of strings. The
// lowest byte flagged is the first: a borrow only runs upwards from a byte
// that is flagged itself.
size_t UnescapedEnd(std::string_view text, size_t at) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101;
    constexpr uint64_t kHighs = 0x8080808080808080;
    for (; at + 8 <= text.size(); at += 8) {
      uint64_t word;
      std::memcpy(&word, text.data() + at, sizeof word);
      const uint64_t quote = word ^ (kOnes * '"');
      const uint64_t backslash = word ^ (kOnes * '\\');
      const uint64_t stops = ((quote - kOnes) & ~quote) |
                             ((backslash - kOnes) & ~backslash) |
                             ((word - kOnes * 0x20) & ~word);
      if ((stops & kHighs) != 0) return at + std::countr_zero(stops & kHighs) / 8;
    }
  }
  while (at < text.size() && kUnescaped[static_cast<unsigned char>(text[at])]) ++at;
  return at;
}

// A reader of the flat objects the writer makes, and of nothing deeper.
// Keys and strings are views into the line, or into fields->unescaped when
// they hold an escape.
class LineParser {
 public:
  LineParser(std::string_view text, JournalFields* fields)
      : text_(text), fields_(fields) {}

  // The fields' lists from an earlier line are written over, not freed and
  // made anew. Unescaping never lengthens: with the line's length reserved,
  // what is unescaped stays where the views point.
  bool Object() {
    fields_->strings_held = 0;
    fields_->numbers_held = 0;
    fields_->strings.clear();
    fields_->numbers.clear();
    fields_->unescaped.clear();
    if (fields_->unescaped.capacity() < text_.size()) {
      fields_->unescaped.reserve(text_.size());
    }
    return Members();
  }

 private:
  bool Members() {
    if (!Take('{')) return false;
    if (Take('}')) return AtEnd();
    do {
      std::string_view key;
      int known = kUnknownKey;
      if (Peek() != '"' || !Key(&key, &known) || !Take(':')) return false;
      if (!Value(key, known)) return false;
    } while (Take(','));
    return Take('}') && AtEnd();
  }

  bool Value(std::string_view key, int known) {
    const char next = Peek();
    if (next == '"') {
      std::string_view value;
      if (!String(&value)) return false;
      Keep(key, known, value, &fields_->known_strings, &fields_->strings_held,
           &fields_->strings);
      return true;
    }
    if (next == 'n') {
      if (text_.substr(at_, 4) != "null") return false;
      at_ += 4;
      return true;
    }
    int64_t value = 0;
    if (!Integer(&value)) return false;
    Keep(key, known, value, &fields_->known_numbers, &fields_->numbers_held,
         &fields_->numbers);
    return true;
  }

  // A key given twice is read as its first: the service's keys in their
  // places, any other in the list, where a reader finds the first.
  template <typename Value>
  static void Keep(std::string_view key, int known, Value value,
                   std::array<Value, kJournalKeyCount>* places, uint32_t* held,
                   std::vector<std::pair<std::string_view, Value>>* others) {
    if (known == kUnknownKey) {
      others->emplace_back(key, value);
      return;
    }
    const uint32_t bit = uint32_t{1} << known;
    if ((*held & bit) != 0) return;
    *held |= bit;
    (*places)[size_t(known)] = value;
  }

  static bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
  void SkipBlanks() {
    while (at_ < text_.size() && Blank(text_[at_])) ++at_;
  }
  char Peek() {
    if (at_ < text_.size() && !Blank(text_[at_])) return text_[at_];
    SkipBlanks();
    return at_ < text_.size() ? text_[at_] : '\0';
  }
  bool Take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {  // the writer puts no blanks
      ++at_;
      return true;
    }
    if (Peek() != c) return false;
    ++at_;
    return true;
  }
  bool AtEnd() {
    SkipBlanks();
    return at_ == text_.size();
  }

  // A key the service does not write, in place of a JournalKey.
  static constexpr int kUnknownKey = -1;
  static constexpr uint64_t kTenthOfMax = uint64_t{INT64_MAX} / 10;

  bool Integer(int64_t* value) {
    const bool negative = Take('-');
    const size_t first = at_;
    uint64_t magnitude = 0;
    for (; at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9'; ++at_) {
      const uint64_t digit = static_cast<uint64_t>(text_[at_] - '0');
      // magnitude * 10 + digit > INT64_MAX, without a division a digit.
      if (magnitude >= kTenthOfMax &&
          (magnitude > kTenthOfMax || digit > uint64_t{INT64_MAX} % 10)) {
        return false;
      }
      magnitude = magnitude * 10 + digit;
    }
    if (at_ == first) return false;
    *value = negative ? -static_cast<int64_t>(magnitude)
                      : static_cast<int64_t>(magnitude);
    return true;
  }

  // \u00XX gives back the byte it was written from; a higher code point
  // (written by no service, but valid JSON) becomes its UTF-8.
  bool Escape(std::string* out) {
    if (at_ >= text_.size()) return false;
    const char c = text_[at_++];
    switch (c) {
      case '"': case '\\': case '/': out->push_back(c); return true;
      case 'b': out->push_back('\b'); return true;
      case 'f': out->push_back('\f'); return true;
      case 'n': out->push_back('\n'); return true;
      case 'r': out->push_back('\r'); return true;
      case 't': out->push_back('\t'); return true;
      case 'u': break;
      default: return false;
    }
    if (at_ + 4 > text_.size()) return false;
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      const int digit = h >= '0' && h <= '9'   ? h - '0'
                        : h >= 'a' && h <= 'f' ? h - 'a' + 10
                        : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      code = code * 16 + static_cast<uint32_t>(digit);
    }
    if (code < 0x100) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | code >> 6));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | code >> 12));
      out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    return true;
  }

  // The names the service writes, closing quote included, compared whole
  // rather than scanned: a line is mostly its keys.
  template <size_t kSize>
  bool TakeKnown(const char (&name)[kSize], JournalKey key, int* known) {
    constexpr size_t kLength = kSize - 1;
    if (text_.size() - at_ < kLength ||
        std::memcmp(text_.data() + at_, name, kLength) != 0) {
      return false;
    }
    *known = int(key);
    at_ += kLength;
    return true;
  }
  bool KnownKey(int* known) {
    using K = JournalKey;
    switch (at_ < text_.size() ? text_[at_] : '\0') {
      case 'r': return TakeKnown("record\"", K::kRecord, known);
      case 't': return TakeKnown("time_s\"", K::kTimeS, known);
      case 'u': return TakeKnown("utc_offset_s\"", K::kUtcOffsetS, known);
      case 'k': return TakeKnown("kind\"", K::kKind, known);
      case 'i': return TakeKnown("id\"", K::kId, known);
      case 'f': return TakeKnown("file\"", K::kFile, known);
      case 'p': return TakeKnown("pid\"", K::kPid, known);
      case 'e':
        return TakeKnown("ended\"", K::kEnded, known) ||
               TakeKnown("exit_code\"", K::kExitCode, known);
      case 'd':
        return TakeKnown("duration_s\"", K::kDurationS, known) ||
               TakeKnown("data_folder\"", K::kDataFolder, known);
      case 'm': return TakeKnown("missed_s\"", K::kMissedS, known);
      case 'c': return TakeKnown("cause\"", K::kCause, known);
      case 'v': return TakeKnown("version\"", K::kVersion, known);
      default: return false;
    }
  }
  // From the opening quote on; any other key is read as a string, and is
  // still the service's when it only spells one with escapes.
  bool Key(std::string_view* key, int* known) {
    ++at_;
    if (KnownKey(known)) return true;
    --at_;
    if (!String(key)) return false;
    const std::optional<JournalKey> named = JournalKeyNamed(*key);
    *known = named ? int(*named) : kUnknownKey;
    return true;
  }

  // From the opening quote on. Most strings, and every key the service
  // writes, hold no escape: they are left where they stand in the line.
  bool String(std::string_view* out) {
    const size_t first = ++at_;
    at_ = UnescapedEnd(text_, first);
    if (at_ == text_.size()) return false;
    if (text_[at_] == '"') {
      *out = text_.substr(first, at_++ - first);
      return true;
    }
    std::string& unescaped = fields_->unescaped;
    const size_t from = unescaped.size();
    unescaped.append(text_.data() + first, at_ - first);
    while (true) {
      const char c = text_[at_++];
      if (c == '"') break;
      if (c != '\\' || !Escape(&unescaped)) return false;
      const size_t end = UnescapedEnd(text_, at_);
      unescaped.append(text_.data() + at_, end - at_);
      at_ = end;
      if (at_ == text_.size()) return false;
    }
    *out = std::string_view(unescaped).substr(from);
    return true;
  }

  std::string_view text_;
  JournalFields* fields_;
  size_t at_ = 0;
};

// The tail of one generation, at most `bound` bytes, from the start of a
// line; empty when it cannot be opened. *whole: nothing was left before it.
bool ReadGeneration(const platform::HeldFolder& folder, JournalReader reader,
                    const char* name, std::string* text,
                    platform::FailedCall* failure = nullptr,
                    size_t bound = kReadBoundBytes, bool* whole = nullptr) {
  std::FILE* file =
      reader == JournalReader::kService
          ? platform::OpenOwnFile(folder, name, platform::OwnFileMode::kAppendBytes,
                                  failure)
          : platform::OpenRegularFileIn(folder, name, false, failure);
  if (file == nullptr) return false;
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  const long skipped = size > long(bound) ? size - long(bound) : 0;
  if (whole != nullptr) *whole = skipped == 0;
  if (size > 0 && std::fseek(file, skipped, SEEK_SET) == 0) {
    text->resize(static_cast<size_t>(size - skipped));
    text->resize(std::fread(text->data(), 1, text->size(), file));
  }
  std::fclose(file);
  if (skipped > 0) text->erase(0, text->find('\n') + 1);
  return true;
}

void VisitLines(std::string_view text,
                const std::function<void(const JournalFields&)>& visit) {
  // One for every line, so that its lists are allocated once, not per line.
  JournalFields fields;
  for (size_t end; (end = text.find('\n')) != std::string_view::npos;
       text.remove_prefix(end + 1)) {
    if (ParseJournalLine(text.substr(0, end), &fields)) visit(fields);
  }
}

// The journal of the current run, held open from its first record on, as
// the log is, and opened anew, as the log is, once it lost its name. Only
// under JournalLock().
struct OpenJournal {
  const AppContext* context = nullptr;
  std::FILE* file = nullptr;
  std::optional<platform::OwnFileId> id;  // of `file`, taken at its open
  long size = 0;
  // The last line has no newline (a crash tore it): the next record begins
  // with one, so that it stays a line of its own.
  bool torn = false;
};

std::mutex& JournalLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

OpenJournal& CurrentJournal() {
  static OpenJournal* journal = new OpenJournal;
  return *journal;
}

void Open(OpenJournal& journal, platform::OwnFileMode mode) {
  journal.file = platform::OpenOwnFile(journal.context->home_folder,
                                       kJournalFileName, mode);
  journal.id = platform::IdOfOwnFile(journal.file);
  journal.size = 0;
  if (journal.file == nullptr) return;
  std::setvbuf(journal.file, nullptr, _IOFBF, kStreamBufferBytes);
  if (std::fseek(journal.file, 0, SEEK_END) == 0) {
    journal.size = std::max(std::ftell(journal.file), 0L);
  }
  journal.torn = journal.size > 0 &&
                 std::fseek(journal.file, -1, SEEK_END) == 0 &&
                 std::fgetc(journal.file) != '\n';
  std::fseek(journal.file, 0, SEEK_END);  // from reading back to appending
}

// The full journal becomes the older generation. Closed first: Windows
// renames no file that is held open. Should the rename fail (a folder
// planted at the older name), the journal begins anew in place, so that it
// stays bounded all the same.
void BeginGeneration(OpenJournal& journal) {
  std::fclose(journal.file);
  const bool renamed = platform::RenameOwnFile(
      journal.context->home_folder, kJournalFileName, kOlderJournalFileName);
  Open(journal, renamed ? platform::OwnFileMode::kAppendBytes
                        : platform::OwnFileMode::kTruncate);
  if (!renamed && journal.file != nullptr) {
    // kTruncate opens a text stream on Windows: reopen it for bytes.
    std::fclose(journal.file);
    Open(journal, platform::OwnFileMode::kAppendBytes);
  }
}

void CloseLocked(OpenJournal& journal) {
  if (journal.file != nullptr) std::fclose(journal.file);
  journal.file = nullptr;
  journal.context = nullptr;
}

}  // namespace

std::optional<JournalKey> JournalKeyNamed(std::string_view name) {
  static constexpr std::array<std::string_view, kJournalKeyCount> kNames = {
      "record", "time_s", "utc_offset_s", "version", "data_folder",
      "kind",   "id",     "file",         "pid",     "missed_s",
      "ended",  "exit_code", "duration_s", "cause"};
  for (size_t key = 0; key < kNames.size(); ++key) {
    if (kNames[key] == name) return JournalKey(key);
  }
  return std::nullopt;
}

const std::string_view* JournalFields::String(std::string_view key) const {
  if (const std::optional<JournalKey> known = JournalKeyNamed(key)) return String(*known);
  for (const auto& [name, value] : strings) {
    if (name == key) return &value;
  }
  return nullptr;
}

std::optional<int64_t> JournalFields::Number(std::string_view key) const {
  if (const std::optional<JournalKey> known = JournalKeyNamed(key)) return Number(*known);
  for (const auto& [name, value] : numbers) {
    if (name == key) return value;
  }
  return std::nullopt;
}

bool ParseJournalLine(std::string_view line, JournalFields* fields) {
  return LineParser(line, fields).Object();
}

bool ReadJournal(const platform::HeldFolder& folder, JournalReader reader,
                 const std::function<void(const JournalFields&)>& visit,
                 platform::FailedCall* failure) {
  std::string older;
  std::string current;
  ReadGeneration(folder, reader, kOlderJournalFileName, &older);
  if (!ReadGeneration(folder, reader, kJournalFileName, &current, failure)) {
    return false;
  }
  VisitLines(older, visit);
  VisitLines(current, visit);
  return true;
}

bool ReadJournalTail(const platform::HeldFolder& folder, JournalReader reader,
                     size_t bytes,
                     const std::function<void(const JournalFields&)>& visit,
                     bool* whole, platform::FailedCall* failure) {
  std::string tail;
  if (!ReadGeneration(folder, reader, kJournalFileName, &tail, failure,
                      std::min(bytes, kReadBoundBytes), whole)) {
    return false;
  }
  *whole = *whole || bytes >= kReadBoundBytes;  // as much as is ever read
  VisitLines(tail, visit);
  return true;
}

void WriteJournal(const JournalRecord& record) {
  const AppContext* context = GetAppContext();
  if (context == nullptr) return;
  std::string line = FormatJournalLine(record);
  std::lock_guard<std::mutex> guard(JournalLock());
  OpenJournal& journal = CurrentJournal();
  if (journal.context != context) {
    CloseLocked(journal);
    journal.context = context;
  }
  // Deleted or renamed by an administrator meanwhile: a new one, as the log.
  if (journal.file != nullptr &&
      !platform::OwnFileStillNamed(context->home_folder, kJournalFileName,
                                   journal.file, journal.id)) {
    std::fclose(journal.file);
    journal.file = nullptr;
  }
  if (journal.file == nullptr) Open(journal, platform::OwnFileMode::kAppendBytes);
  if (journal.file != nullptr && journal.size > 0 &&
      journal.size + long(line.size()) > long(kJournalCapBytes)) {
    BeginGeneration(journal);
  }
  if (journal.file == nullptr) return;
  if (journal.torn) line.insert(line.begin(), '\n');
  journal.torn = false;
  std::fwrite(line.data(), 1, line.size(), journal.file);
  std::fflush(journal.file);
  journal.size += long(line.size());
}

void CloseJournal() {
  std::lock_guard<std::mutex> guard(JournalLock());
  CloseLocked(CurrentJournal());
}

}  // namespace corvana
