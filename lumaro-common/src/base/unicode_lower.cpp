#include "base/unicode_lower.h"

#include <algorithm>
#include <cstdint>

#include "base/unicode_lower_table.h"
#include "base/utf8.h"

namespace lumaro {
namespace {

using unicode_lower::kLowerExpansionCount;
using unicode_lower::kLowerExpansions;
using unicode_lower::kLowerRunCount;
using unicode_lower::kLowerRuns;
using unicode_lower::LowerRun;

// Length and value of the valid UTF-8 sequence at s[i], or 0 when the bytes
// there are not one.
size_t decode(std::string_view s, size_t i, char32_t& c) noexcept {
  const auto b0 = static_cast<uint8_t>(s[i]);
  size_t n;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) n = 2, min = 0x80, c = b0 & 0x1F;
  else if (b0 >= 0xE0 && b0 <= 0xEF) n = 3, min = 0x800, c = b0 & 0x0F;
  else if (b0 >= 0xF0 && b0 <= 0xF4) n = 4, min = 0x10000, c = b0 & 0x07;
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}


char32_t lower_single(char32_t c) noexcept {
  const LowerRun* end = kLowerRuns + kLowerRunCount;
  const LowerRun* run =
      std::upper_bound(kLowerRuns, end, c, [](char32_t v, const LowerRun& r) { return v < r.first; });
  if (run == kLowerRuns) return c;
  --run;
  const char32_t offset = c - run->first;
  if (offset % run->stride != 0 || offset / run->stride >= run->count) return c;
  return static_cast<char32_t>(static_cast<int64_t>(c) + run->delta);
}

}  // namespace

std::string to_lower_unicode(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const char ch = utf8[i];
    if (static_cast<uint8_t>(ch) < 0x80) {
      out += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
      ++i;
      continue;
    }
    char32_t c = 0;
    const size_t n = decode(utf8, i, c);
    if (n == 0) {
      out += ch;
      ++i;
      continue;
    }
    i += n;
    const auto* expansion = std::find_if(kLowerExpansions, kLowerExpansions + kLowerExpansionCount,
                                         [c](const auto& e) { return e.code_point == c; });
    if (expansion != kLowerExpansions + kLowerExpansionCount) {
      out += expansion->utf8;
    } else {
      append_utf8(out, lower_single(c));
    }
  }
  return out;
}

}  // namespace lumaro
