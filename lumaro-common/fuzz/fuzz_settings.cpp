// Feeds arbitrary bytes to the settings reader. Whatever it reads must stay
// within the file's bounds, and writing it out and reading that back must give
// the same settings and the same text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "providers/catalogue.h"
#include "providers/settings.h"

using namespace lumaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ProviderSettings first = parse_provider_settings(bytes);

  if (provider_id(provider_index(first.provider)) != first.provider) std::abort();
  if (first.models.size() > kMaxCustomModelKeys) std::abort();
  for (const auto& [key, list] : first.models) {
    if (list.size() > kMaxCustomModelsPerKey) std::abort();
    for (const auto& id : list) {
      if (id.empty() || id.size() > kMaxCustomModelIdBytes) std::abort();
    }
  }

  const std::string text = format_provider_settings(first);
  const ProviderSettings second = parse_provider_settings(text);
  if (!(second == first)) std::abort();
  if (format_provider_settings(second) != text) std::abort();
  return 0;
}
