#include "runner/cli_args.h"

#include <array>
#include <nlohmann/json.hpp>

#include "base/placeholders.h"
#include "base/utf8.h"
#include "chat/prompt.h"
#include "providers/catalogue.h"
#include "runner/cli_command.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

constexpr int kClaudeProvider = 0;
constexpr int kChatgptProvider = 1;

std::string compact(const json& j) {
  // Prompts, titles and paths come from other programs; a stray byte must not
  // turn into an exception.
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string server_name(const TurnConnector& connector) { return "lumaro_" + connector.name; }

json server_args(const ConnectorSpec& server) {
  json args = json::array();
  for (const std::string& a : server.args) args.push_back(a);
  return args;
}

// -1 for a character outside the standard alphabet.
int base64_value(char c) noexcept {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

struct ImageType {
  std::string_view prefix;
  std::string_view extension;
};
constexpr std::array<ImageType, 4> kCodexImageTypes{{
    {"data:image/png;base64,", "png"},
    {"data:image/jpeg;base64,", "jpg"},
    {"data:image/webp;base64,", "webp"},
    {"data:image/gif;base64,", "gif"},
}};

void add_claude_model(std::vector<std::string>& args, std::string& effort, std::string_view model) {
  const ModelAndEffort split = split_model_effort(model);
  if (!split.model.empty()) {
    args.emplace_back("--model");
    args.emplace_back(split.model);
  }
  if (split.has_effort && accepts_effort(kClaudeProvider, split.effort)) {
    args.emplace_back("--effort");
    args.emplace_back(split.effort);
    effort = std::string(split.effort);
  }
}

TurnInvocation claude_turn(const TurnRequest& request, const TurnInputs& inputs, bool resumed) {
  TurnInvocation turn;
  const bool with_images = !request.images.empty();
  std::vector<std::string>& args = turn.args;
  args = {"-p"};
  if (with_images) args.insert(args.end(), {"--input-format", "stream-json"});
  args.insert(args.end(), {"--output-format", "stream-json", "--verbose", "--include-partial-messages",
                           "--strict-mcp-config", "--tools", ""});
  if (request.connector) {
    const TurnConnector& c = *request.connector;
    TurnFile file;
    file.path = join_cli_path(inputs.temp_dir, "lumaro-" + std::to_string(inputs.host_pid) + "-" + c.name + "-" +
                                                   std::to_string(inputs.turn_number) + ".json");
    json server{{"command", c.command.program}, {"args", server_args(c.command)}};
    file.contents = compact(json{{"mcpServers", json{{c.name, std::move(server)}}}});
    file.failure_template = kClaudeConfigWriteError;
    args.insert(args.end(), {"--allowedTools", "mcp__" + c.name, "--mcp-config", file.path});
    turn.files.push_back(std::move(file));
  }
  args.insert(args.end(), {"--append-system-prompt", request.system_prompt});
  add_claude_model(args, turn.effort, request.model);
  if (resumed) args.insert(args.end(), {"--resume", *request.resume_id});

  turn.stdin_text = with_images ? claude_stdin_line(request.message, request.images) : request.message;
  turn.env.emplace_back("MCP_TIMEOUT", "60000");
  return turn;
}

TurnInvocation codex_turn(const TurnRequest& request, const TurnInputs& inputs, bool resumed) {
  TurnInvocation turn;
  std::vector<std::string>& args = turn.args;
  args = {"exec", "--json", "--skip-git-repo-check", "-s", "read-only"};
  auto override = [&args](std::string value) {
    args.emplace_back("-c");
    args.push_back(std::move(value));
  };
  override("approval_policy=\"never\"");
  const ModelAndEffort split = split_model_effort(request.model);
  if (split.has_effort && accepts_effort(kChatgptProvider, split.effort)) {
    override("model_reasoning_effort=\"" + std::string(split.effort) + "\"");
  }
  if (request.connector) {
    const ConnectorSpec& server = request.connector->command;
    const std::string key = "mcp_servers." + server_name(*request.connector) + ".";
    override(key + "command=" + quote_codex_value(server.program));
    std::string list;
    for (const std::string& a : server.args) {
      if (!list.empty()) list += ", ";
      list += quote_codex_value(a);
    }
    override(key + "args=[" + list + "]");
    override(key + "default_tools_approval_mode=\"approve\"");
    override(key + "tool_timeout_sec=180");
  }
  args.insert(args.end(), {"--disable", "shell_tool"});
  if (!split.model.empty()) args.insert(args.end(), {"-m", std::string(split.model)});
  if (resumed) args.insert(args.end(), {"resume", *request.resume_id});
  args.emplace_back("-");

  // Each image goes right after "exec", so the last one ends up first; the
  // tool sees them in that order, as it always has.
  for (size_t i = 0; i < request.images.size(); ++i) {
    const std::string_view url = request.images[i];
    for (const ImageType& type : kCodexImageTypes) {
      if (!url.starts_with(type.prefix)) continue;
      std::optional<std::string> bytes = decode_base64(url.substr(type.prefix.size()));
      if (!bytes || bytes->empty()) break;
      TurnFile file;
      file.path = join_cli_path(inputs.temp_dir, "lumaro-img-" + std::to_string(inputs.host_pid) + "-" +
                                                     std::to_string(inputs.now_ms) + "-" + std::to_string(i) + "-" +
                                                     std::to_string(inputs.turn_number) + "." +
                                                     std::string(type.extension));
      file.contents = std::move(*bytes);
      args.insert(args.begin() + 1, {"-i", file.path});
      turn.files.push_back(std::move(file));
      break;
    }
  }

  turn.stdin_text = combined_prompt(request.system_prompt, request.message, resumed);
  return turn;
}

TurnInvocation gemini_cli_turn(const TurnRequest& request) {
  TurnInvocation turn;
  turn.args = {"-p", " ", "--output-format", "stream-json", "--approval-mode", "plan", "--skip-trust"};
  const ModelAndEffort split = split_model_effort(request.model);
  if (!split.model.empty()) turn.args.insert(turn.args.end(), {"--model", std::string(split.model)});
  // No argument of the Gemini CLI carries a conversation id, so a stored one
  // cannot continue anything: every turn is a fresh conversation and gets the
  // system prompt with the message.
  turn.stdin_text = combined_prompt(request.system_prompt, request.message, false);
  return turn;
}

std::variant<TurnInvocation, std::string> agy_turn(const TurnRequest& request, const TurnInputs& inputs,
                                                   bool resumed) {
  TurnInvocation turn;
  json allow = json::array();
  if (request.connector) {
    const std::string name = server_name(*request.connector);
    auto merged = merge_agy_mcp_config(inputs.agy_mcp_config, name, request.connector->command);
    if (auto* error = std::get_if<std::string>(&merged)) return fill_placeholders(kAgyConfigWriteError, {*error});
    if (auto& text = std::get<AgyConfigText>(merged).text) {
      TurnFile file;
      file.path = agy_mcp_config_path(inputs.home_dir);
      file.contents = std::move(*text);
      file.temporary = false;
      file.create_parent = true;
      file.failure_template = kAgyConfigWriteError;
      turn.files.push_back(std::move(file));
    }
    allow.push_back("mcp(" + name + "/*)");
  }
  const json settings{{"permissions", json{{"allow", std::move(allow)},
                                           {"deny", json::array({"write_file(*)", "command(*)"})}}}};
  turn.args = {"--print=" + combined_prompt(request.system_prompt, request.message, resumed),
               "--output-format",
               "stream-json",
               "--settings",
               compact(settings),
               "--print-timeout",
               "600s"};
  if (!request.model.empty()) turn.args.insert(turn.args.end(), {"--model", request.model});
  if (resumed) turn.args.insert(turn.args.end(), {"--conversation", *request.resume_id});
  return turn;
}

}  // namespace

std::string agy_mcp_config_path(std::string_view home_dir) {
  return join_cli_path(home_dir, ".gemini\\config\\mcp_config.json");
}

std::variant<TurnInvocation, std::string> build_turn_invocation(CliKind kind, const TurnRequest& request,
                                                                const TurnInputs& inputs) {
  const bool resumed = request.resume_id && !request.resume_id->empty();
  switch (kind) {
    case CliKind::ClaudeCode: return claude_turn(request, inputs, resumed);
    case CliKind::Codex: return codex_turn(request, inputs, resumed);
    case CliKind::GeminiCli: return gemini_cli_turn(request);
    case CliKind::Agy: return agy_turn(request, inputs, resumed);
  }
  return std::string();
}

std::optional<std::string> write_turn_files(TurnInvocation& invocation, const WriteTurnFile& write) {
  std::vector<TurnFile> planned = std::move(invocation.files);
  invocation.files.clear();
  for (TurnFile& file : planned) {
    const std::optional<std::string> error = write(file);
    if (!error) {
      invocation.files.push_back(std::move(file));
      continue;
    }
    if (!file.failure_template.empty()) return fill_placeholders(file.failure_template, {*error});
    // An image that could not be written is simply not offered to the tool.
    std::vector<std::string>& args = invocation.args;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "-i" && args[i + 1] == file.path) {
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        break;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> decode_base64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  size_t digits = 0;
  for (const char c : text) {
    if (c == '=') continue;
    const int v = base64_value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    ++digits;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  if (digits % 4 == 1) return std::nullopt;
  return out;
}

std::string quote_codex_value(std::string_view text) {
  if (text.find('\'') == std::string_view::npos) return "'" + std::string(text) + "'";
  std::string out = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string claude_stdin_line(std::string_view message, const std::vector<std::string>& images) {
  constexpr std::string_view kData = "data:";
  constexpr std::string_view kBase64 = ";base64,";
  json content = json::array();
  for (const std::string& url : images) {
    if (!url.starts_with(kData)) continue;
    const size_t marker = url.find(kBase64);
    if (marker == std::string::npos) continue;
    json source{{"type", "base64"},
                {"media_type", url.substr(kData.size(), marker - kData.size())},
                {"data", url.substr(marker + kBase64.size())}};
    content.push_back(json{{"type", "image"}, {"source", std::move(source)}});
  }
  content.push_back(json{{"type", "text"}, {"text", std::string(message)}});
  const json line{{"type", "user"}, {"message", json{{"role", "user"}, {"content", std::move(content)}}}};
  return compact(line) + "\n";
}

std::variant<AgyConfigText, std::string> merge_agy_mcp_config(const ExistingFile& existing, std::string_view name,
                                                              const ConnectorSpec& server) {
  json root = json::object();
  switch (existing.state) {
    case ExistingFile::State::missing: break;
    case ExistingFile::State::unreadable: return std::string(kAgyConfigUnreadable);
    case ExistingFile::State::read:
      if (!is_blank(sanitize_utf8(existing.text))) {
        root = json::parse(existing.text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/true);
        if (!root.is_object()) return std::string(kAgyConfigUnreadable);
      }
      break;
  }
  json& servers = root["mcpServers"];
  if (!servers.is_object()) servers = json::object();
  const json wanted{{"command", server.program}, {"args", server_args(server)}, {"disabled", false}};
  const std::string key(name);
  if (auto it = servers.find(key); it != servers.end() && *it == wanted) return AgyConfigText{};
  servers[key] = wanted;
  return AgyConfigText{root.dump(2, ' ', false, json::error_handler_t::replace) + "\n"};
}

}  // namespace lumaro
