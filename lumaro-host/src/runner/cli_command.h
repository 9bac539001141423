// Finding an AI tool on the machine and preparing the process that runs it.
// Both decisions are pure: the caller supplies the environment values and a
// test for the existence of a path, and carries out the result (creating
// folders, starting the process). Paths are UTF-8 with "\" separators.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runner/cli_kind.h"

namespace lumaro {

// True when the path names a file system object (file or folder).
using PathExists = std::function<bool(const std::string&)>;

// No console window for the child.
inline constexpr uint32_t kCreateNoWindow = 0x08000000;

// The values find_cli looks at. A variable that is missing or not valid
// Unicode is nothing.
struct CliEnvironment {
  std::optional<std::string> lumaro_claude;  // LUMARO_CLAUDE
  std::optional<std::string> app_data;       // APPDATA
  std::optional<std::string> path;           // PATH
  std::string home_dir;
  std::string tool_local_app_data;
  std::string host_dir;  // the folder of the host's own executable
};

// `base` and `name` joined with one backslash; an empty base gives the name.
std::string join_cli_path(std::string_view base, std::string_view name);

// The file name without its last extension, as Windows opens it (trailing
// dots and spaces ignored): "gemini" for "C:\npm\gemini.cmd".
std::string_view file_stem(std::string_view path) noexcept;

// The file stem is "gemini" in any ASCII case.
bool is_gemini_cli(std::string_view path) noexcept;

// The tool a found path is, for a provider index: claude Claude Code, chatgpt
// the Codex CLI, gemini the Gemini CLI or else agy. Out-of-range indexes read
// as claude, like everywhere else.
CliKind cli_kind(int provider, std::string_view path) noexcept;

// The first existing file called one of `names` in the folders of a PATH
// value, folders first. Empty and relative entries are skipped (a relative
// folder would depend on whatever the host's current folder happens to be);
// surrounding double quotes of an entry are removed.
std::optional<std::string> search_path(const std::optional<std::string>& path_env,
                                       const std::vector<std::string_view>& names, const PathExists& exists);

// The provider's tool: the first existing fixed candidate, else the first
// match on PATH, else nothing.
std::optional<std::string> find_cli(int provider, const CliEnvironment& env, const PathExists& exists);

// How to start a tool; callers append their own arguments to `args` and add
// their own variables to `env`.
struct CliCommand {
  std::string program;
  std::vector<std::string> args;                            // leading arguments
  std::vector<std::pair<std::string, std::string>> env;    // set or replaced in the child
  uint32_t creation_flags = kCreateNoWindow;
  std::vector<std::string> dirs_to_create;                  // before the start; failures ignored
  bool operator==(const CliCommand&) const = default;
};

// `path` is what find_cli returned, `data_dir` the host's per-user data
// folder, `path_env` the PATH value (for node.exe).
//
// An npm-installed Claude Code (claude.cmd or claude.bat) is started as
// node.exe with its cli.js when both are there, which spares the command
// line cmd.exe's limits. The Gemini CLI gets a private home folder and
// Claude Code a private configuration folder, so their logins made for the
// host stay apart from the user's own.
CliCommand build_cli_command(std::string_view path, std::string_view data_dir, const PathExists& exists,
                             const std::optional<std::string>& path_env);

}  // namespace lumaro
