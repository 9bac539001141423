#include "ipc/codec.h"

#include <array>
#include <nlohmann/json.hpp>

#include "base/overloaded.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

constexpr size_t kMaxImageDataBytes = 0x7FEFF;  // 524031, prefix included
constexpr size_t kMaxStateProviders = 16;
constexpr size_t kMaxStateModels = 64;

std::string dump(const json& j) {
  // Titles and texts come from other programs; never let a stray byte turn an
  // encode into an exception.
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// ---- lenient readers --------------------------------------------------------

std::string read_string(const json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

bool read_bool(const json& obj, const char* key) {
  auto it = obj.find(key);
  return it != obj.end() && it->is_boolean() && it->get<bool>();
}

// Non-negative integers keep their low 32 bits; everything else reads as 0.
uint32_t read_u32(const json& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end()) return 0;
  if (it->is_number_unsigned()) return static_cast<uint32_t>(it->get<uint64_t>());
  if (it->is_number_integer()) {
    const int64_t v = it->get<int64_t>();
    return v < 0 ? 0 : static_cast<uint32_t>(v);
  }
  return 0;
}

WindowId read_window(const json& obj) {
  auto it = obj.find("w");
  if (it == obj.end()) return 0;
  if (it->is_number_unsigned()) return it->get<uint64_t>();
  if (it->is_number_integer()) {
    const int64_t v = it->get<int64_t>();
    return v < 0 ? 0 : static_cast<WindowId>(v);
  }
  return 0;
}

// Parses a line into an object with a string "t"; nothing otherwise.
std::optional<json> parse_tagged(std::string_view line, std::string& kind) {
  if (!json_depth_within(line, kMaxJsonDepth)) return std::nullopt;
  json j = json::parse(line.begin(), line.end(), nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  auto t = j.find("t");
  if (t == j.end() || !t->is_string()) return std::nullopt;
  kind = t->get<std::string>();
  return j;
}

json provider_entry_json(const ProviderEntry& e) {
  return json{{"key", e.key}, {"login", login_state_name(e.login)}, {"name", e.name}};
}

json model_entry_json(const ModelEntry& e) {
  return json{{"label", e.label}, {"model", e.model}, {"provider", e.provider}};
}

}  // namespace

std::string encode(const Request& request) {
  json j = std::visit(
      Overloaded{
          [](const HelloRequest& r) { return json{{"pid", r.pid}, {"bits", r.bits}, {"exe", r.exe}}; },
          [](const OpenRequest& r) { return json{{"w", r.w}, {"title", r.title}}; },
          [](const CloseRequest& r) { return json{{"w", r.w}}; },
          [](const SendRequest& r) {
            json o{{"w", r.w},           {"text", r.text},   {"context", r.context},
                   {"provider", r.provider}, {"model", r.model}};
            if (!r.preset.empty()) o["preset"] = r.preset;
            return o;
          },
          [](const StopRequest& r) { return json{{"w", r.w}}; },
          [](const ImageRequest& r) { return json{{"w", r.w}, {"data", r.data}}; },
          [](const UsageRequest& r) { return json{{"w", r.w}, {"provider", r.provider}}; },
          [](const LoginRequest& r) {
            return json{{"w", r.w}, {"provider", r.provider}, {"method", r.method}};
          },
          [](const LogoutRequest& r) { return json{{"w", r.w}, {"provider", r.provider}}; },
          [](const AccountRequest& r) { return json{{"w", r.w}, {"provider", r.provider}}; },
          [](const SelectRequest& r) { return json{{"provider", r.provider}, {"model", r.model}}; },
          [](const ResetRequest& r) {
            return json{{"w", r.w}, {"provider", r.provider}, {"session", r.session}};
          },
          [](const ApplyRequest& r) { return json{{"w", r.w}, {"text", r.text}}; },
      },
      request);
  j["t"] = request_kind(request);
  return dump(j);
}

std::string encode(const Event& event) {
  json j = std::visit(
      Overloaded{
          [](const StateEvent& e) {
            json providers = json::array();
            for (const auto& p : e.providers) providers.push_back(provider_entry_json(p));
            json models = json::array();
            for (const auto& m : e.models) models.push_back(model_entry_json(m));
            return json{{"providers", std::move(providers)},
                        {"provider", e.provider},
                        {"model", e.model},
                        {"models", std::move(models)}};
          },
          [](const ConnEvent& e) { return json{{"w", e.w}, {"ok", e.ok}, {"text", e.text}}; },
          [](const TextEvent& e) { return json{{"w", e.w}, {"text", e.text}, {"new", e.new_block}}; },
          [](const ToolEvent& e) { return json{{"w", e.w}, {"name", e.name}, {"args", e.args}}; },
          [](const DoneEvent& e) { return json{{"w", e.w}, {"error", e.error}}; },
          [](const NoteEvent& e) { return json{{"w", e.w}, {"text", e.text}}; },
      },
      event);
  j["t"] = event_kind(event);
  return dump(j);
}

std::optional<Request> decode_request(std::string_view line) {
  std::string kind;
  auto parsed = parse_tagged(line, kind);
  if (!parsed) return std::nullopt;
  const json& j = *parsed;
  const WindowId w = read_window(j);
  auto s = [&](const char* key) { return read_string(j, key); };

  if (kind == "hello") return HelloRequest{read_u32(j, "pid"), read_u32(j, "bits"), s("exe")};
  if (kind == "open") return OpenRequest{w, s("title")};
  if (kind == "close") return CloseRequest{w};
  if (kind == "send") return SendRequest{w, s("text"), s("context"), s("provider"), s("model"), s("preset")};
  if (kind == "stop") return StopRequest{w};
  if (kind == "image") {
    std::string data = s("data");
    if (!validate_image_data(data)) return std::nullopt;
    return ImageRequest{w, std::move(data)};
  }
  if (kind == "usage") return UsageRequest{w, s("provider")};
  if (kind == "login") return LoginRequest{w, s("provider"), s("method")};
  if (kind == "logout") return LogoutRequest{w, s("provider")};
  if (kind == "account") return AccountRequest{w, s("provider")};
  if (kind == "select") return SelectRequest{s("provider"), s("model")};
  if (kind == "reset") return ResetRequest{w, s("provider"), s("session")};
  if (kind == "apply") return ApplyRequest{w, s("text")};
  return std::nullopt;
}

std::optional<Event> decode_event(std::string_view line) {
  std::string kind;
  auto parsed = parse_tagged(line, kind);
  if (!parsed) return std::nullopt;
  const json& j = *parsed;
  const WindowId w = read_window(j);
  auto s = [&](const char* key) { return read_string(j, key); };

  if (kind == "state") {
    StateEvent e;
    e.provider = s("provider");
    e.model = s("model");
    if (auto it = j.find("providers"); it != j.end() && it->is_array()) {
      for (const auto& p : *it) {
        if (e.providers.size() == kMaxStateProviders) break;
        if (!p.is_object()) {
          e.providers.emplace_back();
          continue;
        }
        e.providers.push_back({read_string(p, "key"), read_string(p, "name"),
                               parse_login_state(read_string(p, "login"))});
      }
    }
    if (auto it = j.find("models"); it != j.end() && it->is_array()) {
      for (const auto& m : *it) {
        if (e.models.size() == kMaxStateModels) break;
        if (!m.is_object()) {
          e.models.emplace_back();
          continue;
        }
        e.models.push_back({read_string(m, "provider"), read_string(m, "model"), read_string(m, "label")});
      }
    }
    return e;
  }
  if (kind == "conn") return ConnEvent{w, read_bool(j, "ok"), s("text")};
  if (kind == "text") return TextEvent{w, s("text"), read_bool(j, "new")};
  if (kind == "tool") return ToolEvent{w, s("name"), s("args")};
  if (kind == "done") return DoneEvent{w, s("error")};
  if (kind == "note") return NoteEvent{w, s("text")};
  return std::nullopt;
}

bool validate_image_data(std::string_view data) noexcept {
  static constexpr std::array<std::string_view, 4> kPrefixes = {
      "data:image/png;base64,", "data:image/jpeg;base64,", "data:image/webp;base64,",
      "data:image/gif;base64,"};
  size_t prefix_len = 0;
  for (auto prefix : kPrefixes) {
    if (data.starts_with(prefix)) {
      prefix_len = prefix.size();
      break;
    }
  }
  if (prefix_len == 0) return false;
  if (data.size() > kMaxImageDataBytes || data.size() == prefix_len) return false;
  for (size_t i = prefix_len; i < data.size(); ++i) {
    const char c = data[i];
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '/' || c == '=';
    if (!ok) return false;
  }
  return true;
}

bool json_depth_within(std::string_view text, int max_depth) noexcept {
  int depth = 0;
  bool in_string = false, escaped = false;
  for (const char c : text) {
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false;
      continue;
    }
    switch (c) {
      case '"': in_string = true; break;
      case '[':
      case '{':
        if (++depth > max_depth) return false;
        break;
      case ']':
      case '}': --depth; break;
      default: break;
    }
  }
  return true;
}

}  // namespace lumaro
