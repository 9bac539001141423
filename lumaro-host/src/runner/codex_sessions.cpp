#include "runner/codex_sessions.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/utf8.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

std::string join_dir(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "\\" + name; }

std::optional<std::string> search(std::string_view id, const SessionDirLister& list, const std::string& dir,
                                  int depth) {
  std::vector<SessionDirEntry> entries = list(dir);
  std::sort(entries.begin(), entries.end(),
            [](const SessionDirEntry& a, const SessionDirEntry& b) { return a.name > b.name; });
  for (const SessionDirEntry& e : entries) {
    if (e.is_dir) {
      if (depth + 1 > kCodexSessionMaxDepth) continue;
      if (auto found = search(id, list, join_dir(dir, e.name), depth + 1)) return found;
    } else if (e.name.find(id) != std::string::npos && e.name.ends_with(".jsonl")) {
      return join_dir(dir, e.name);
    }
  }
  return std::nullopt;
}

std::string string_or_empty(const json& object, const char* key) {
  if (!object.is_object()) return {};
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

bool codex_conversation_id_ok(std::string_view id) noexcept {
  if (id.empty()) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

std::optional<std::string> find_codex_session_file(std::string_view id, const SessionDirLister& list) {
  if (!codex_conversation_id_ok(id)) return std::nullopt;
  return search(id, list, std::string(), 0);
}

std::optional<std::string> find_codex_session_file(std::string_view id, std::span<const SessionFileEntry> entries) {
  return find_codex_session_file(id, [&](const std::string& dir) {
    std::vector<SessionDirEntry> out;
    for (const SessionFileEntry& e : entries) {
      if (e.dir == dir) out.push_back({e.name, e.is_dir});
    }
    return out;
  });
}

std::optional<CodexTurnSettings> codex_turn_settings_from_text(std::string_view text) {
  if (!is_valid_utf8(text)) return std::nullopt;
  constexpr std::string_view kMarker = "\"turn_context\"";
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.find(kMarker) == std::string_view::npos) continue;
    const json j = json::parse(line.begin(), line.end(), nullptr, /*allow_exceptions=*/false);
    if (!j.is_object()) continue;
    const auto payload = j.find("payload");
    if (payload == j.end()) continue;
    return CodexTurnSettings{string_or_empty(*payload, "model"), string_or_empty(*payload, "effort")};
  }
  return std::nullopt;
}

std::vector<std::string> codex_turn_settings_notes(const CodexTurnSettings& settings) {
  std::vector<std::string> notes{"§effort:" + settings.effort};
  if (!settings.model.empty()) notes.push_back("§model:" + settings.model);
  return notes;
}

}  // namespace lumaro
