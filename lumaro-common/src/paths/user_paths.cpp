#include "paths/user_paths.h"

namespace lumaro {

std::wstring join_path(std::wstring_view base, std::wstring_view name) {
  std::wstring out(base);
  if (!out.empty() && out.back() != L'\\' && out.back() != L'/') out += L'\\';
  out += name;
  return out;
}

std::wstring resolve_data_dir(const OptionalEnv& local_app_data, std::wstring_view temp_dir) {
  return join_path(local_app_data ? std::wstring_view(*local_app_data) : temp_dir, L"Lumaro");
}

std::wstring resolve_home_dir(const OptionalEnv& user_profile) {
  return user_profile ? *user_profile : std::wstring(L".");
}

std::wstring resolve_tool_local_app_data(const OptionalEnv& local_app_data, const OptionalEnv& user_profile) {
  if (local_app_data) return *local_app_data;
  return join_path(join_path(resolve_home_dir(user_profile), L"AppData"), L"Local");
}

}  // namespace lumaro
