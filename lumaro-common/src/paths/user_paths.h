// Per-user folders. Every call recomputes its answer from the environment;
// nothing is cached, so a test (or a user) that changes a variable is seen at
// the next call. The resolve_* functions hold the fallback rules and are pure;
// the argument-less functions (Windows only) read the real environment.
//
// A variable counts as set whenever it exists, even when its value is empty.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumaro {

using OptionalEnv = std::optional<std::wstring>;

// `base` and `name` joined with one backslash ("x\" + "y" gives "x\y";
// an empty base gives the bare name).
std::wstring join_path(std::wstring_view base, std::wstring_view name);

// LOCALAPPDATA\Lumaro, else <temp>\Lumaro.
std::wstring resolve_data_dir(const OptionalEnv& local_app_data, std::wstring_view temp_dir);
// USERPROFILE, else ".".
std::wstring resolve_home_dir(const OptionalEnv& user_profile);
// LOCALAPPDATA, else <home>\AppData\Local. Only used to find the AI tools.
std::wstring resolve_tool_local_app_data(const OptionalEnv& local_app_data, const OptionalEnv& user_profile);

#ifdef _WIN32
std::wstring data_dir();
std::wstring log_dir();  // data_dir\log
std::wstring home_dir();
std::wstring tool_local_app_data();

// The variable's value, or nothing when it does not exist.
OptionalEnv read_env(const wchar_t* name);
#endif

}  // namespace lumaro
