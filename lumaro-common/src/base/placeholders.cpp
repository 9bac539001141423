#include "base/placeholders.h"

namespace lumaro {

std::string fill_placeholders(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string out;
  auto next = values.begin();
  size_t i = 0;
  while (i < pattern.size()) {
    const size_t slot = pattern.find("{}", i);
    if (slot == std::string_view::npos || next == values.end()) break;
    out.append(pattern, i, slot - i);
    out.append(*next++);
    i = slot + 2;
  }
  out.append(pattern.substr(i));
  return out;
}

}  // namespace lumaro
