// What the AI tools say about their accounts, asked on Windows: the login
// state check and the account description. The tools run with the private
// profile folders build_cli_command gives them, so what is read here is the
// state of the host's own logins.
#include <windows.h>

#include "base/file_win.h"
#include "base/text_win.h"
#include "log/log.h"
#include "paths/user_paths.h"
#include "providers/catalogue.h"
#include "runner/account_parse.h"
#include "runner/account_tools_win.h"
#include "runner/accounts.h"
#include "runner/cli_command.h"
#include "runner/command_line_quoting.h"
#include "runner/tool_env_win.h"
#include "runner/workers.h"

namespace lumaro {
namespace {

constexpr size_t kMaxToolFile = 16u << 20;

}  // namespace

std::string data_dir_utf8() { return to_utf8(data_dir()); }

std::variant<ChildSpec, std::string> tool_launch(const std::string& path, const std::vector<std::string>& args,
                                                 const std::string& working_dir) {
  const CliEnvironment env = current_cli_environment();
  const CliCommand command = build_cli_command(path, data_dir_utf8(), path_exists, env.path);
  for (const auto& dir : command.dirs_to_create) create_directories(to_wide(dir));
  std::vector<std::string> all = command.args;
  all.insert(all.end(), args.begin(), args.end());
  auto prepared = prepare_command_line(command.program, all, system_dir());
  if (auto* refusal = std::get_if<std::string>(&prepared)) return *refusal;
  const auto& line = std::get<ProcessCommandLine>(prepared);
  ChildSpec launch;
  launch.application = to_wide(line.application);
  launch.command_line = to_wide(line.command_line);
  for (const auto& [name, value] : command.env) launch.env.emplace_back(to_wide(name), to_wide(value));
  launch.working_dir = to_wide(working_dir);
  launch.creation_flags = command.creation_flags;
  return launch;
}

ToolRun run_account_tool(const std::string& path, const std::vector<std::string>& args, const std::string& working_dir,
                         std::string* error) {
  auto launch = tool_launch(path, args, working_dir);
  if (auto* refusal = std::get_if<std::string>(&launch)) {
    if (error) *error = *refusal;
    return ToolRun{};
  }
  DWORD code = 0;
  ToolRun run = run_to_end(std::get<ChildSpec>(launch), std::nullopt, &code);
  if (!run.started && error) *error = system_error_text(code);
  if (run.timed_out) log_line("도구가 끝나지 않아 멈춤 " + path + " " + (args.empty() ? "" : args.front()));
  return run;
}

std::optional<std::string> read_tool_file(const std::string& path) {
  return read_small_file(to_wide(path), kMaxToolFile);
}

LoginState probe_login_state(ChatEngine& engine, int provider) {
  const auto path = find_cli(provider, current_cli_environment(), path_exists);
  if (!path) return LoginState::missing;
  const CliKind kind = cli_kind(provider, *path);
  if (kind == CliKind::GeminiCli) {
    return gemini_cli_login_state(path_exists(gemini_oauth_creds_path(data_dir_utf8())));
  }
  // Working folder not set: the check does not depend on one.
  return login_state_from_run(kind, run_account_tool(*path, login_probe_args(kind), ""));
}

nlohmann::json account_status(ChatEngine& engine, int provider) {
  const CliEnvironment env = current_cli_environment();
  const auto path = find_cli(provider, env, path_exists);
  if (!path) return account_not_installed(provider);
  switch (cli_kind(provider, *path)) {
    case CliKind::ClaudeCode:
      return claude_account(run_account_tool(*path, login_probe_args(CliKind::ClaudeCode), env.home_dir));
    case CliKind::Codex:
      return chatgpt_account(login_state(engine, provider) == LoginState::in,
                             parse_models_cache(read_tool_file(codex_models_cache_path(env.home_dir))));
    case CliKind::GeminiCli: {
      const std::string data = data_dir_utf8();
      return gemini_cli_account(path_exists(gemini_oauth_creds_path(data)), read_tool_file(gemini_accounts_path(data)));
    }
    case CliKind::Agy:
      break;
  }
  return agy_account(login_state(engine, provider) == LoginState::in);
}

}  // namespace lumaro
