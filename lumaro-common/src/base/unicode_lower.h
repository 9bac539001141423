// Full Unicode lower-casing, one code point at a time (the context-dependent
// final-sigma rule is not applied, so every code point always maps the same
// way and two spellings of one name compare equal after lowering).
#pragma once

#include <string>
#include <string_view>

namespace lumaro {

// Lower case of `utf8`. U+0130 becomes "i" and U+0307; every other mapping is
// one code point to one. Bytes that are not valid UTF-8 are kept as they are.
std::string to_lower_unicode(std::string_view utf8);

}  // namespace lumaro
