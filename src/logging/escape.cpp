#include "logging/escape.h"

namespace corvana {
namespace {

// The length of the well-formed UTF-8 sequence starting at `at`, or 0.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
  }
  return length;
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
  while (at < text.size() && text[at] >= 0x20 && text[at] < 0x7f) ++at;
  std::string out(text.substr(0, at));
  out.reserve(text.size());
  while (at < text.size()) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7f || (byte >= 0x80 && byte <= 0x9f)) {
      AppendEscaped(byte, &out);
      ++at;
      continue;
    }
    const size_t length = byte >= 0x80 ? Utf8SequenceLength(text, at) : 0;
    if (length == 0) {
      out.push_back(static_cast<char>(byte));
      ++at;
      continue;
    }
    // U+0080 to U+009F, the C1 controls, are 0xc2 0x80-0x9f in UTF-8.
    const bool c1 = byte == 0xc2 && static_cast<unsigned char>(text[at + 1]) <= 0x9f;
    for (size_t i = 0; i < length; ++i) {
      const unsigned char part = static_cast<unsigned char>(text[at + i]);
      if (c1) {
        AppendEscaped(part, &out);
      } else {
        out.push_back(static_cast<char>(part));
      }
    }
    at += length;
  }
  return out;
}

}  // namespace corvana
