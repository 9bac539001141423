#include <windows.h>

#include "paths/user_paths.h"

namespace lumaro {
namespace {

std::wstring temp_dir() {
  // GetTempPath2W exists from Windows 11 / Server 2022 on; older systems and
  // Wine 8 only have GetTempPathW.
  using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
  static const auto get_temp_path2 = reinterpret_cast<GetTempPath2Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
  wchar_t buf[MAX_PATH + 2];
  const DWORD n = get_temp_path2 ? get_temp_path2(MAX_PATH + 2, buf) : GetTempPathW(MAX_PATH + 2, buf);
  if (n == 0 || n > MAX_PATH + 1) return {};
  return std::wstring(buf, n);
}

}  // namespace

OptionalEnv read_env(const wchar_t* name) {
  SetLastError(ERROR_SUCCESS);
  DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::wstring();
  }
  // The value can change between the two calls; retry until it fits.
  for (;;) {
    std::wstring value(needed, L'\0');
    const DWORD got = GetEnvironmentVariableW(name, value.data(), needed);
    if (got == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (got < needed) {
      value.resize(got);
      return value;
    }
    needed = got;
  }
}

std::wstring data_dir() { return resolve_data_dir(read_env(L"LOCALAPPDATA"), temp_dir()); }

std::wstring log_dir() { return join_path(data_dir(), L"log"); }

std::wstring home_dir() { return resolve_home_dir(read_env(L"USERPROFILE")); }

std::wstring tool_local_app_data() {
  return resolve_tool_local_app_data(read_env(L"LOCALAPPDATA"), read_env(L"USERPROFILE"));
}

}  // namespace lumaro
