#include "base/utf8.h"

#include <cstdint>

namespace lumaro {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid sequence starting at s[i], or 0 when the bytes there
// are invalid; `bad` then receives how many bytes form the maximal invalid
// subpart (at least 1).
size_t valid_sequence_length(std::string_view s, size_t i, size_t& bad) noexcept {
  const auto b0 = static_cast<uint8_t>(s[i]);
  bad = 1;
  if (b0 < 0x80) return 1;
  size_t need;
  uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return 0;
    const auto b = static_cast<uint8_t>(s[i + k]);
    const uint8_t l = (k == 1) ? lo : 0x80;
    const uint8_t h = (k == 1) ? hi : 0xBF;
    if (b < l || b > h) return 0;
    bad = k + 1;
  }
  return need + 1;
}

// Decodes one code point from valid UTF-8 at s[i] and advances i.
char32_t decode_one(std::string_view s, size_t& i) noexcept {
  const auto b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) return s[i++] & 0x7F;
  size_t n = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
  char32_t c = b0 & (0x7F >> n);
  for (size_t k = 1; k < n && i + k < s.size(); ++k) c = (c << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
  i += n;
  return c;
}

}  // namespace

std::string sanitize_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    // Fast path over ASCII runs.
    size_t j = i;
    while (j < bytes.size() && static_cast<uint8_t>(bytes[j]) < 0x80) ++j;
    out.append(bytes.data() + i, j - i);
    i = j;
    if (i >= bytes.size()) break;
    size_t bad = 0;
    const size_t len = valid_sequence_length(bytes, i, bad);
    if (len) {
      out.append(bytes.data() + i, len);
      i += len;
    } else {
      out.append(kReplacement);
      i += bad;
    }
  }
  return out;
}

bool is_valid_utf8(std::string_view bytes) noexcept {
  size_t i = 0;
  while (i < bytes.size()) {
    size_t bad = 0;
    const size_t len = valid_sequence_length(bytes, i, bad);
    if (!len) return false;
    i += len;
  }
  return true;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool is_unicode_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool is_blank(std::string_view text) noexcept {
  size_t i = 0;
  while (i < text.size()) {
    if (!is_unicode_space(decode_one(text, i))) return false;
  }
  return true;
}

std::string_view trim_unicode_space(std::string_view text) noexcept {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t next = begin;
    if (!is_unicode_space(decode_one(text, next))) break;
    begin = next;
  }
  // Walk forward and remember where the last non-space code point ended;
  // simpler than decoding backwards and the texts here are short.
  size_t end = begin, i = begin;
  while (i < text.size()) {
    const char32_t c = decode_one(text, i);
    if (!is_unicode_space(c)) end = i;
  }
  return text.substr(begin, end - begin);
}

}  // namespace lumaro
