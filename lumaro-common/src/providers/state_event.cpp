#include "providers/state_event.h"

#include <algorithm>

namespace lumaro {
namespace {

std::string model_label(std::string_view provider_label, std::string_view model_label) {
  std::string label(provider_label);
  label += " \xC2\xB7 ";  // U+00B7 MIDDLE DOT
  label += model_label;
  return label;
}

}  // namespace

StateEvent build_state_event(const ProviderSettings& settings,
                             const std::array<LoginState, kProviderCount>& logins) {
  StateEvent event;
  event.provider = settings.provider;
  event.model = settings.model;
  for (int p = 0; p < kProviderCount; ++p) {
    const ProviderInfo& info = provider_info(p);
    event.providers.push_back({std::string(info.id), std::string(info.label), logins[static_cast<size_t>(p)]});

    const size_t first = event.models.size();
    auto offered = [&](std::string_view id) {
      return std::any_of(event.models.begin() + static_cast<std::ptrdiff_t>(first), event.models.end(),
                         [&](const ModelEntry& m) { return m.model == id; });
    };
    for (const BuiltinModel& model : builtin_models(p)) {
      event.models.push_back({std::string(info.id), std::string(model.id), model_label(info.label, model.label)});
    }
    // The empty id is always a built-in, so an empty custom id is never shown.
    if (auto it = settings.models.find(std::string(info.id)); it != settings.models.end()) {
      for (const std::string& id : it->second) {
        if (offered(id)) continue;
        event.models.push_back({std::string(info.id), id, model_label(info.label, id)});
      }
    }
  }
  return event;
}

}  // namespace lumaro
