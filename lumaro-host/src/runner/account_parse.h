// What the AI tools say about their accounts, turned into login states and
// account descriptions. Pure: the caller runs the tools (ToolRun) and reads
// their files (nothing when a file cannot be read); these functions only
// decide. Paths are UTF-8 with "\" separators.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "ipc/messages.h"
#include "runner/cli_kind.h"

namespace lumaro {

// Arguments, after build_cli_command's, of the run that tells the login
// state: claude "auth" "status" "--json", chatgpt "login" "status", agy
// "models". The Gemini CLI is not run (empty list): its credential file
// tells.
std::vector<std::string> login_probe_args(CliKind kind);

// data_dir\gemini-home\.gemini, the Gemini CLI's folder in the host's private
// profile, and the files in it that the account code reads or deletes.
std::string gemini_config_dir(std::string_view data_dir);
std::string gemini_oauth_creds_path(std::string_view data_dir);
std::string gemini_accounts_path(std::string_view data_dir);
std::string gemini_settings_path(std::string_view data_dir);

// home_dir\.codex\models_cache.json
std::string codex_models_cache_path(std::string_view home_dir);

// The login state a finished probe run shows (only missing, out or in). A run
// that could not be started is missing. For GeminiCli use
// gemini_cli_login_state instead; here it reads as out.
LoginState login_state_from_run(CliKind kind, const ToolRun& run);
LoginState gemini_cli_login_state(bool oauth_creds_exists);

// One selectable model from the chatgpt tool's models cache.
struct CodexModel {
  std::string slug;
  std::string name;
  std::string desc;
  std::string default_effort;
  std::vector<std::string> efforts;
  bool operator==(const CodexModel&) const = default;
};

// The listed models of the cache file, in file order; nothing readable or no
// "models" array gives an empty list.
std::vector<CodexModel> parse_models_cache(const std::optional<std::string>& text);

// The string member "active" of google_accounts.json, else empty.
std::string gemini_active_account(const std::optional<std::string>& text);

// Account descriptions, one per case. Objects keep their members in ascending
// byte order, so dumping them gives the host's JSON form directly.
nlohmann::json account_not_installed(int provider);
// From the output of claude's "auth" "status" "--json" run, working folder
// home_dir.
nlohmann::json claude_account(const ToolRun& status_run);
nlohmann::json chatgpt_account(bool logged_in, const std::vector<CodexModel>& models);
nlohmann::json gemini_cli_account(bool oauth_creds_exists, const std::optional<std::string>& accounts_text);
nlohmann::json agy_account(bool logged_in);

// "§account:" followed by the description's compact JSON.
std::string account_note(const nlohmann::json& description);

}  // namespace lumaro
