// Small text helpers for the DLL's log lines.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace lumaro::hook {

// A window handle as lower-case hexadecimal with a 0x prefix.
inline std::string hwnd_text(HWND window) {
  char buffer[2 + 16 + 1];
  const auto value = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window));
  snprintf(buffer, sizeof buffer, "%#llx", value);
  if (value == 0) return "0x0";
  return buffer;
}

inline std::string bool_text(bool value) { return value ? "true" : "false"; }

}  // namespace lumaro::hook
