#include "runner/login_plan.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "base/placeholders.h"
#include "base/utf8.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

constexpr int kClaudeProvider = 0;
constexpr std::string_view kHttps = "https://";

// The code point starting at `text[i]` of valid UTF-8, and its length.
char32_t decode_at(std::string_view text, size_t i, size_t& length) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) {
    length = 1;
    return b;
  }
  length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
  char32_t c = b & (0x3F >> (length - 1));
  for (size_t k = 1; k < length && i + k < text.size(); ++k) c = (c << 6) | (text[i + k] & 0x3F);
  return c;
}

// Takes the member `name` of `parent` as an object, making it one when it is
// missing or anything else.
json& object_member(json& parent, const char* name) {
  json& member = parent[name];
  if (!member.is_object()) member = json::object();
  return member;
}

}  // namespace

std::string fill_message(std::string_view pattern, std::string_view value) {
  return fill_placeholders(pattern, {value});
}

std::string fill_message(std::string_view pattern, std::string_view first, std::string_view second) {
  return fill_placeholders(pattern, {first, second});
}

LoginCommand login_command(CliKind kind, std::string_view method, std::string_view home_dir,
                           std::string_view data_dir) {
  LoginCommand command;
  command.working_dir = std::string(home_dir);
  switch (kind) {
    case CliKind::ClaudeCode:
      command.args = {"auth", "login", method == "sso" ? "--sso" : method == "console" ? "--console" : "--claudeai"};
      break;
    case CliKind::Codex: command.args = {"login"}; break;
    case CliKind::GeminiCli:
      command.args = {"-p", kLoginCheckPrompt, "--skip-trust"};
      command.working_dir = join_cli_path(data_dir, "gemini-home");
      command.stdin_pipe = true;
      break;
    case CliKind::Agy: command.args = {std::string("--print=") + kLoginCheckPrompt}; break;
  }
  return command;
}

std::string gemini_login_settings(const std::optional<std::string>& old_text) {
  json root = json::object();
  if (old_text) {
    // The tool itself accepts comments in this file; a commented file must not
    // lose the user's other settings.
    root = json::parse(old_text->begin(), old_text->end(), nullptr, /*allow_exceptions=*/false,
                       /*ignore_comments=*/true);
    if (!root.is_object()) root = json::object();
  }
  // A "security" or "auth" that is not an object cannot hold the setting; it
  // alone is replaced, the rest of the file stays.
  object_member(object_member(root, "security"), "auth")["selectedType"] = "oauth-personal";
  return root.dump(2, ' ', false, json::error_handler_t::replace);
}

std::optional<std::string> gemini_login_node_options(std::string_view tool_path, const PathExists& exists) {
  const size_t slash = tool_path.find_last_of("\\/");
  if (slash == std::string_view::npos) return std::nullopt;
  std::string file = join_cli_path(tool_path.substr(0, slash), "inside-hook.cjs");
  if (!exists(file)) return std::nullopt;
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  return "--require \"" + file + "\"";
}

std::optional<std::string> sign_in_address(std::string_view line, int provider) {
  const size_t start = line.find(kHttps);
  if (start == std::string_view::npos) return std::nullopt;
  size_t end = start;
  while (end < line.size()) {
    size_t length = 1;
    if (is_unicode_space(decode_at(line, end, length))) break;
    end += length;
  }
  std::string address(line.substr(start, std::min(end, line.size()) - start));
  if (provider != kClaudeProvider) {
    // The other tools print more addresses than the sign-in one (documents,
    // terms); only a sign-in address is worth a browser window.
    constexpr std::array<std::string_view, 4> kMarks{"auth", "login", "oauth", "accounts."};
    bool named = false;
    for (const std::string_view mark : kMarks) named = named || address.find(mark) != std::string::npos;
    if (!named) return std::nullopt;
  }
  return address;
}

std::vector<std::string> LoginOutputScanner::feed(std::string_view bytes) {
  std::vector<std::string> found;
  while (!stopped_ && !bytes.empty()) {
    const size_t nl = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, nl);
    if (!overlong_) {
      if (partial_.size() + piece.size() > kMaxLoginLine) {
        overlong_ = true;
        std::string().swap(partial_);
      } else {
        partial_.append(piece);
      }
    }
    if (nl == std::string_view::npos) break;
    if (!overlong_) {
      std::string_view line = partial_;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      take_line(line, found);
    }
    partial_.clear();
    overlong_ = false;
    bytes.remove_prefix(nl + 1);
  }
  return found;
}

std::vector<std::string> LoginOutputScanner::finish() {
  std::vector<std::string> found;
  if (!stopped_ && !overlong_ && !partial_.empty()) take_line(partial_, found);
  partial_.clear();
  overlong_ = false;
  return found;
}

void LoginOutputScanner::take_line(std::string_view line, std::vector<std::string>& found) {
  if (!is_valid_utf8(line)) {
    stopped_ = true;
    std::string().swap(partial_);
    return;
  }
  if (auto address = sign_in_address(line, provider_)) found.push_back(std::move(*address));
}

LogoutAction logout_action(CliKind kind) {
  switch (kind) {
    case CliKind::ClaudeCode:
    case CliKind::Codex: return LogoutAction::run_tool;
    case CliKind::GeminiCli: return LogoutAction::delete_gemini_files;
    case CliKind::Agy: return LogoutAction::refuse;
  }
  return LogoutAction::refuse;
}

std::vector<std::string> logout_args(CliKind kind) {
  switch (kind) {
    case CliKind::ClaudeCode: return {"auth", "logout"};
    case CliKind::Codex: return {"logout"};
    case CliKind::GeminiCli:
    case CliKind::Agy: break;
  }
  return {};
}

std::optional<std::string> logout_error(const ToolRun& run, std::string_view system_error) {
  if (!run.started) return fill_message(kLogoutStartFailed, system_error);
  if (run.exit_code == 0) return std::nullopt;
  const std::string err = sanitize_utf8(run.err);
  return fill_message(kLogoutFailed, trim_unicode_space(err));
}

}  // namespace lumaro
