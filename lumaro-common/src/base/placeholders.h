// Filling the "{}" slots of the system's message and prompt patterns.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace lumaro {

// Replaces each "{}" of `pattern` with the next value, in one pass, so braces
// inside a value (a window title, say) are never taken for slots. Slots
// beyond the values stay as they are.
std::string fill_placeholders(std::string_view pattern, std::initializer_list<std::string_view> values);

}  // namespace lumaro
