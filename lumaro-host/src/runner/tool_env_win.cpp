#include "runner/tool_env_win.h"

#include <windows.h>

#include "base/text_win.h"
#include "paths/user_paths.h"

namespace lumaro {
namespace {

bool valid_utf16(const std::wstring& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const wchar_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> unicode_env(const wchar_t* name) {
  auto value = read_env(name);
  if (!value || !valid_utf16(*value)) return std::nullopt;
  return to_utf8(*value);
}

std::string module_dir() {
  wchar_t buf[32768];
  const DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
  std::wstring path(buf, n);
  const size_t cut = path.find_last_of(L"\\/");
  return to_utf8(cut == std::wstring::npos ? std::wstring() : path.substr(0, cut));
}

}  // namespace

CliEnvironment current_cli_environment() {
  CliEnvironment env;
  env.lumaro_claude = unicode_env(L"LUMARO_CLAUDE");
  env.app_data = unicode_env(L"APPDATA");
  env.path = unicode_env(L"PATH");
  env.home_dir = to_utf8(home_dir());
  env.tool_local_app_data = to_utf8(tool_local_app_data());
  env.host_dir = module_dir();
  return env;
}

bool path_exists(const std::string& path) {
  return !path.empty() && GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string system_temp_dir() {
  wchar_t buf[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 2, buf);
  return n && n <= MAX_PATH + 1 ? to_utf8(std::wstring(buf, n)) : std::string();
}

std::string system_dir() {
  wchar_t buf[MAX_PATH + 1];
  const UINT n = GetSystemDirectoryW(buf, MAX_PATH + 1);
  return n && n <= MAX_PATH ? to_utf8(std::wstring(buf, n)) : std::string("C:\\Windows\\System32");
}

}  // namespace lumaro
