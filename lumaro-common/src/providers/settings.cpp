#include "providers/settings.h"

#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "ipc/codec.h"
#include "providers/catalogue.h"

namespace lumaro {
namespace {

using json = nlohmann::json;

std::vector<std::string> read_model_list(const json& value) {
  std::vector<std::string> list;
  if (!value.is_array()) return list;
  for (const json& element : value) {
    if (list.size() >= kMaxCustomModelsPerKey) break;
    if (!element.is_string()) continue;
    const auto& text = element.get_ref<const std::string&>();
    if (text.size() > kMaxCustomModelIdBytes) continue;
    // The parser only lets valid UTF-8 through, as trimming needs.
    const std::string_view trimmed = trim_unicode_space(text);
    if (!trimmed.empty()) list.emplace_back(trimmed);
  }
  return list;
}

}  // namespace

ProviderSettings parse_provider_settings(std::string_view file_text) {
  ProviderSettings settings;
  // The parser recurses per nesting level; a hostile file must not exhaust
  // the stack.
  if (!json_depth_within(file_text, kMaxJsonDepth)) return settings;
  const json root = json::parse(file_text.begin(), file_text.end(), nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) return settings;

  if (auto it = root.find("provider"); it != root.end() && it->is_string()) {
    const auto& id = it->get_ref<const std::string&>();
    if (kProviders[static_cast<size_t>(provider_index(id))].id == id) settings.provider = id;
  }
  if (auto it = root.find("model"); it != root.end() && it->is_string()) {
    settings.model = it->get<std::string>();
  }
  if (auto it = root.find("models"); it != root.end() && it->is_object()) {
    // Objects iterate in ascending key order.
    for (const auto& [key, value] : it->items()) {
      if (settings.models.size() >= kMaxCustomModelKeys) break;
      settings.models.emplace(key, read_model_list(value));
    }
  }
  return settings;
}

std::string format_provider_settings(const ProviderSettings& settings) {
  json models = json::object();
  for (const auto& [key, list] : settings.models) models[key] = list;
  const json root{{"model", settings.model}, {"models", std::move(models)}, {"provider", settings.provider}};
  // In-memory texts may come from requests; a stray byte must not throw.
  std::string text = root.dump(2, ' ', false, json::error_handler_t::replace);
  text += '\n';
  return text;
}

}  // namespace lumaro
