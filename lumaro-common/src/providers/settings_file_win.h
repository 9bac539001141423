// The provider settings file, data_dir\settings.json.
#pragma once

#include <optional>
#include <string>

#include "providers/settings.h"

namespace lumaro {

// Defaults when the file is missing, unreadable or not JSON.
ProviderSettings load_provider_settings();
// Creates data_dir if needed and replaces the file; the error text on failure.
std::optional<std::string> save_provider_settings(const ProviderSettings& settings);

}  // namespace lumaro
