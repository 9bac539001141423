#include "runner/account_parse.h"

#include "base/utf8.h"
#include "providers/catalogue.h"
#include "runner/cli_command.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

// One JSON value and nothing else; a failure is the discarded value, never an
// exception.
json parse_strict(std::string_view text) {
  return json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
}

std::string string_member(const json& object, const char* name) {
  if (!object.is_object()) return {};
  const auto it = object.find(name);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool is_slug(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (const char c : s) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

bool is_effort_word(const std::string& s) {
  for (const char c : s) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

bool logged_in_member(const json& j) {
  const auto it = j.find("loggedIn");  // end() for anything but an object
  return it != j.end() && it->is_boolean() && it->get<bool>();
}

std::vector<std::string> efforts_of(const json& model) {
  std::vector<std::string> out;
  const auto levels = model.find("supported_reasoning_levels");
  if (levels == model.end() || !levels->is_array()) return out;
  for (const json& level : *levels) {
    if (!level.is_object()) continue;
    const auto effort = level.find("effort");
    if (effort == level.end() || !effort->is_string()) continue;
    std::string word = effort->get<std::string>();
    if (is_effort_word(word)) out.push_back(std::move(word));
  }
  return out;
}

}  // namespace

std::vector<std::string> login_probe_args(CliKind kind) {
  switch (kind) {
    case CliKind::ClaudeCode: return {"auth", "status", "--json"};
    case CliKind::Codex: return {"login", "status"};
    case CliKind::Agy: return {"models"};
    case CliKind::GeminiCli: break;
  }
  return {};
}

std::string gemini_config_dir(std::string_view data_dir) {
  return join_cli_path(join_cli_path(data_dir, "gemini-home"), ".gemini");
}
std::string gemini_oauth_creds_path(std::string_view data_dir) {
  return join_cli_path(gemini_config_dir(data_dir), "oauth_creds.json");
}
std::string gemini_accounts_path(std::string_view data_dir) {
  return join_cli_path(gemini_config_dir(data_dir), "google_accounts.json");
}
std::string gemini_settings_path(std::string_view data_dir) {
  return join_cli_path(gemini_config_dir(data_dir), "settings.json");
}
std::string codex_models_cache_path(std::string_view home_dir) {
  return join_cli_path(join_cli_path(home_dir, ".codex"), "models_cache.json");
}

LoginState login_state_from_run(CliKind kind, const ToolRun& run) {
  if (kind == CliKind::GeminiCli) return LoginState::out;
  if (!run.started) return LoginState::missing;
  switch (kind) {
    case CliKind::ClaudeCode: {
      // Only the printed JSON counts; the tool's exit code is not looked at.
      const std::string text = sanitize_utf8(run.out);
      return logged_in_member(parse_strict(trim_unicode_space(text))) ? LoginState::in : LoginState::out;
    }
    case CliKind::Codex: return run.exit_code == 0 ? LoginState::in : LoginState::out;
    case CliKind::Agy: {
      if (run.exit_code != 0) return LoginState::out;
      // agy lists its models even when signed out, but then asks the user to
      // "sign in" on one of its two streams.
      const std::string text = sanitize_utf8(run.out) + sanitize_utf8(run.err);
      return text.find("sign in") != std::string::npos ? LoginState::out : LoginState::in;
    }
    case CliKind::GeminiCli: break;
  }
  return LoginState::out;
}

LoginState gemini_cli_login_state(bool oauth_creds_exists) {
  return oauth_creds_exists ? LoginState::in : LoginState::out;
}

std::vector<CodexModel> parse_models_cache(const std::optional<std::string>& text) {
  std::vector<CodexModel> out;
  if (!text) return out;
  const json root = parse_strict(*text);
  if (!root.is_object()) return out;
  const auto models = root.find("models");
  if (models == root.end() || !models->is_array()) return out;
  for (const json& m : *models) {
    if (!m.is_object() || string_member(m, "visibility") != "list") continue;
    const auto slug_it = m.find("slug");
    if (slug_it == m.end() || !slug_it->is_string()) continue;
    std::string slug = slug_it->get<std::string>();
    if (!is_slug(slug)) continue;
    CodexModel model;
    const auto name = m.find("display_name");
    model.name = name != m.end() && name->is_string() ? name->get<std::string>() : slug;
    model.slug = std::move(slug);
    model.desc = string_member(m, "description");
    model.default_effort = string_member(m, "default_reasoning_level");
    model.efforts = efforts_of(m);
    out.push_back(std::move(model));
  }
  return out;
}

std::string gemini_active_account(const std::optional<std::string>& text) {
  if (!text) return {};
  return string_member(parse_strict(*text), "active");
}

json account_not_installed(int provider) {
  return json{{"installed", false}, {"provider", std::string(provider_id(provider))}};
}

json claude_account(const ToolRun& status_run) {
  // Decoded like every tool output, so one stray byte in, say, the e-mail
  // does not make the whole description read as logged out.
  const json j = status_run.started ? parse_strict(sanitize_utf8(status_run.out)) : json();
  return json{{"email", string_member(j, "email")},
              {"expires", string_member(j, "loginExpiresAt")},
              {"installed", true},
              {"loggedIn", logged_in_member(j)},
              {"method", string_member(j, "authMethod")},
              {"plan", string_member(j, "subscriptionType")},
              {"provider", "claude"}};
}

json chatgpt_account(bool logged_in, const std::vector<CodexModel>& models) {
  json list = json::array();
  for (const CodexModel& m : models) {
    list.push_back(json{{"default", m.default_effort},
                        {"desc", m.desc},
                        {"efforts", m.efforts},
                        {"name", m.name},
                        {"slug", m.slug}});
  }
  return json{{"installed", true}, {"loggedIn", logged_in}, {"models", std::move(list)}, {"provider", "chatgpt"}};
}

json gemini_cli_account(bool oauth_creds_exists, const std::optional<std::string>& accounts_text) {
  return json{{"email", gemini_active_account(accounts_text)},
              {"installed", true},
              {"loggedIn", oauth_creds_exists},
              {"method", "google"},
              {"provider", "gemini"}};
}

json agy_account(bool logged_in) {
  return json{{"installed", true}, {"loggedIn", logged_in}, {"provider", "gemini"}};
}

std::string account_note(const json& description) {
  // Members come from files and tools; a stray byte is replaced rather than
  // thrown.
  return "§account:" + description.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace lumaro
