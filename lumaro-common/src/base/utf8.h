// UTF-8 helpers shared by the protocol, the settings reader and the log.
// Pure functions; no allocation beyond the returned strings.
#pragma once

#include <string>
#include <string_view>

namespace lumaro {

// Returns `bytes` with every invalid UTF-8 sequence replaced by U+FFFD, one
// replacement per maximal invalid subpart (the WHATWG decoder's rule).
std::string sanitize_utf8(std::string_view bytes);

// True when `bytes` is valid UTF-8 as it stands.
bool is_valid_utf8(std::string_view bytes) noexcept;

// Appends the UTF-8 encoding of the code point `c` (a valid scalar value).
void append_utf8(std::string& out, char32_t c);

// Unicode White_Space property.
bool is_unicode_space(char32_t c) noexcept;

// True when `text` (valid UTF-8) is empty or only white space; stops at the
// first other code point.
bool is_blank(std::string_view text) noexcept;

// `text` (valid UTF-8) without leading and trailing Unicode white space.
std::string_view trim_unicode_space(std::string_view text) noexcept;

}  // namespace lumaro
