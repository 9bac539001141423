#include "runner/cli_command.h"

#include "base/ascii.h"
#include "runner/command_line_quoting.h"

namespace lumaro {
namespace {

bool is_separator(char c) noexcept { return c == '\\' || c == '/'; }


// "C:\x" or "C:/x", or a UNC path "\\server\share".
bool is_absolute(std::string_view dir) noexcept {
  const bool drive = dir.size() >= 3 && ((dir[0] >= 'A' && dir[0] <= 'Z') || (dir[0] >= 'a' && dir[0] <= 'z')) &&
                     dir[1] == ':' && is_separator(dir[2]);
  const bool unc = dir.size() >= 3 && is_separator(dir[0]) && is_separator(dir[1]);
  return drive || unc;
}

// The folder part of a path: "C:\npm" for "C:\npm\claude.cmd", empty for a
// bare file name.
std::string_view parent_dir(std::string_view path) noexcept {
  while (!path.empty() && is_separator(path.back())) path.remove_suffix(1);
  const size_t sep = path.find_last_of("\\/");
  if (sep == std::string_view::npos) return {};
  return path.substr(0, sep);
}

void add_candidate(std::vector<std::string>& out, std::string_view base, std::string_view rest) {
  // A candidate built on a missing folder would turn into a path relative to
  // the host's current folder; it is skipped instead.
  if (base.empty()) return;
  out.push_back(join_cli_path(base, rest));
}

}  // namespace

std::string join_cli_path(std::string_view base, std::string_view name) {
  std::string out(base);
  if (!out.empty() && !is_separator(out.back())) out += '\\';
  out += name;
  return out;
}

std::string_view file_stem(std::string_view path) noexcept {
  const std::string_view name = windows_file_name(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

bool is_gemini_cli(std::string_view path) noexcept { return ascii_iequals(file_stem(path), "gemini"); }

CliKind cli_kind(int provider, std::string_view path) noexcept {
  switch (provider) {
    case 1: return CliKind::Codex;
    case 2: return is_gemini_cli(path) ? CliKind::GeminiCli : CliKind::Agy;
    default: return CliKind::ClaudeCode;
  }
}

std::optional<std::string> search_path(const std::optional<std::string>& path_env,
                                       const std::vector<std::string_view>& names, const PathExists& exists) {
  if (!path_env) return std::nullopt;
  std::string_view rest = *path_env;
  while (!rest.empty()) {
    const size_t semi = rest.find(';');
    std::string_view dir = rest.substr(0, semi);
    rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
    if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"') dir = dir.substr(1, dir.size() - 2);
    if (!is_absolute(dir)) continue;
    for (const std::string_view name : names) {
      std::string candidate = join_cli_path(dir, name);
      if (exists(candidate)) return candidate;
    }
  }
  return std::nullopt;
}

std::optional<std::string> find_cli(int provider, const CliEnvironment& env, const PathExists& exists) {
  const std::string_view app_data = env.app_data ? std::string_view(*env.app_data) : std::string_view();
  std::vector<std::string> candidates;
  std::vector<std::string_view> path_names;
  switch (provider) {
    case 1:
      add_candidate(candidates, env.tool_local_app_data, "Programs\\OpenAI\\Codex\\bin\\codex.exe");
      add_candidate(candidates, app_data, "npm\\codex.cmd");
      path_names = {"codex.exe", "codex.cmd"};
      break;
    case 2:
      // A Gemini CLI shipped with the host sits beside its x86 and x64
      // folders.
      add_candidate(candidates, parent_dir(env.host_dir), "gemini\\gemini.cmd");
      add_candidate(candidates, env.tool_local_app_data, "Programs\\nodejs\\gemini.cmd");
      add_candidate(candidates, app_data, "npm\\gemini.cmd");
      add_candidate(candidates, env.tool_local_app_data, "agy\\bin\\agy.exe");
      path_names = {"gemini.cmd", "agy.exe"};
      break;
    default:
      if (env.lumaro_claude && !env.lumaro_claude->empty()) candidates.push_back(*env.lumaro_claude);
      add_candidate(candidates, env.home_dir, ".local\\bin\\claude.exe");
      add_candidate(candidates, app_data, "npm\\claude.cmd");
      path_names = {"claude.exe", "claude.cmd"};
      break;
  }
  for (const std::string& candidate : candidates) {
    if (exists(candidate)) return candidate;
  }
  return search_path(env.path, path_names, exists);
}

CliCommand build_cli_command(std::string_view path, std::string_view data_dir, const PathExists& exists,
                             const std::optional<std::string>& path_env) {
  CliCommand command;
  command.program = std::string(path);

  const bool claude = ascii_iequals(file_stem(path), "claude");
  if (claude && is_batch_script(path)) {
    const std::string_view dir = parent_dir(path);
    std::string cli_js = join_cli_path(dir, "node_modules\\@anthropic-ai\\claude-code\\cli.js");
    if (exists(cli_js)) {
      std::optional<std::string> node = join_cli_path(dir, "node.exe");
      if (!exists(*node)) node = search_path(path_env, {"node.exe"}, exists);
      if (node) {
        command.program = std::move(*node);
        command.args.push_back(std::move(cli_js));
      }
    }
  }

  if (is_gemini_cli(path)) {
    const std::string home = join_cli_path(data_dir, "gemini-home");
    command.dirs_to_create.push_back(join_cli_path(home, ".gemini"));
    command.env.emplace_back("USERPROFILE", home);
    command.env.emplace_back("HOME", home);
  }
  if (claude) {
    const std::string config = join_cli_path(data_dir, "claude");
    command.dirs_to_create.push_back(config);
    command.env.emplace_back("CLAUDE_CONFIG_DIR", config);
  }
  return command;
}

}  // namespace lumaro
