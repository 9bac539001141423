#include <windows.h>

#include "base/text_win.h"
#include "base/utf8.h"

namespace lumaro {

std::string to_utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  // Without WC_ERR_INVALID_CHARS, unpaired surrogates are replaced by U+FFFD.
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        nullptr);
  }
  return out;
}

std::wstring to_wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const std::string clean = sanitize_utf8(utf8);
  const int n = MultiByteToWideChar(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, clean.data(), static_cast<int>(clean.size()), out.data(), n);
  return out;
}

}  // namespace lumaro
