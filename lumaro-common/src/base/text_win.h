// UTF-8 <-> UTF-16 for the Win32 layer. Invalid input never fails: unpaired
// surrogates and bad bytes become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace lumaro {

std::string to_utf8(std::wstring_view wide);
std::wstring to_wide(std::string_view utf8);

}  // namespace lumaro
