#include "logging/escape.h"

#include <cstdint>
#include <cstring>

#include "platform/env.h"

namespace corvana {
namespace {

// Well-formed UTF-8 by its lead byte: the second byte's range shuts out the
// overlong forms, the surrogates and what lies past U+10FFFF.
struct Utf8Lead {
  unsigned char first_lead, last_lead;
  size_t length;
  unsigned char second_min, second_max;
};

constexpr Utf8Lead kUtf8Leads[] = {
    {0xc2, 0xdf, 2, 0x80, 0xbf}, {0xe0, 0xe0, 3, 0xa0, 0xbf},
    {0xe1, 0xec, 3, 0x80, 0xbf}, {0xed, 0xed, 3, 0x80, 0x9f},
    {0xee, 0xef, 3, 0x80, 0xbf}, {0xf0, 0xf0, 4, 0x90, 0xbf},
    {0xf1, 0xf3, 4, 0x80, 0xbf}, {0xf4, 0xf4, 4, 0x80, 0x8f},
};

unsigned char ByteAt(std::string_view text, size_t at) {
  return static_cast<unsigned char>(text[at]);
}

// The length of the well-formed UTF-8 sequence starting at `at`, or 0.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const unsigned char lead = ByteAt(text, at);
  for (const Utf8Lead& form : kUtf8Leads) {
    if (lead < form.first_lead || lead > form.last_lead) continue;
    if (at + form.length > text.size()) return 0;
    const unsigned char second = ByteAt(text, at + 1);
    if (second < form.second_min || second > form.second_max) return 0;
    for (size_t i = 2; i < form.length; ++i) {
      if ((ByteAt(text, at + i) & 0xc0) != 0x80) return 0;
    }
    return form.length;
  }
  return 0;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A name literally "New\x0aLine" must not read like one with a newline.
bool ReadsAsEscape(std::string_view text, size_t at) {
  return at + 3 < text.size() && text[at + 1] == 'x' &&
         IsHexDigit(text[at + 2]) && IsHexDigit(text[at + 3]);
}

// The bytes from `at` that are shown alike: as they are, or each escaped.
struct Piece {
  size_t length;
  bool escaped;
};

Piece NextPiece(std::string_view text, size_t at) {
  const unsigned char byte = ByteAt(text, at);
  if (byte == '\\') return {1, ReadsAsEscape(text, at)};
  if (byte < 0x80) return {1, byte < 0x20 || byte == 0x7f};
  const size_t length = Utf8SequenceLength(text, at);
  if (length == 0) return {1, !platform::kLoneHighBytesArePrintable};
  // U+0080 to U+009F, the C1 controls, are 0xc2 0x80-0x9f in UTF-8.
  return {length, byte == 0xc2 && ByteAt(text, at + 1) <= 0x9f};
}

bool IsPlainAscii(char c) { return c >= 0x20 && c < 0x7f && c != '\\'; }

// Whether the eight bytes at p are all IsPlainAscii, told a word at a time:
// the log checks every line it writes, two for each file of a reload.
bool IsPlainAsciiWord(const char* p) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHighBits = kOnes * 0x80;
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  // Nonzero exactly when some byte is below `limit` (at most 0x80), or is
  // zero for the second, once bytes from 0x80 up are ruled out.
  const auto any_below = [](uint64_t w, uint64_t limit) {
    return (w - kOnes * limit) & ~w & kHighBits;
  };
  return ((word & kHighBits) | any_below(word, 0x20) |
          any_below(word ^ (kOnes * 0x7f), 1) |
          any_below(word ^ (kOnes * '\\'), 1)) == 0;
}

void AppendEscaped(unsigned char byte, std::string* out) {
  constexpr char kHex[] = "0123456789abcdef";
  out->append("\\x");
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 0x0f]);
}

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
  // Most text is printable ASCII: it goes in one piece, up to the first byte
  // that needs a closer look.
  size_t at = 0;
  while (at < text.size() && IsPlainAscii(text[at])) ++at;
  std::string out(text.substr(0, at));
  out.reserve(text.size());
  while (at < text.size()) {
    const Piece piece = NextPiece(text, at);
    for (size_t i = at; i < at + piece.length; ++i) {
      if (piece.escaped) {
        AppendEscaped(ByteAt(text, i), &out);
      } else {
        out.push_back(text[i]);
      }
    }
    at += piece.length;
  }
  return out;
}

bool NeedsEscaping(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    if (text.size() - at >= 8 && IsPlainAsciiWord(text.data() + at)) {
      at += 8;
      continue;
    }
    if (IsPlainAscii(text[at])) {
      ++at;
      continue;
    }
    const Piece piece = NextPiece(text, at);
    if (piece.escaped) return true;
    at += piece.length;
  }
  return false;
}

}  // namespace corvana
