#include "providers/settings_file_win.h"

#include "base/file_win.h"
#include "paths/user_paths.h"

namespace lumaro {
namespace {

constexpr size_t kMaxSettingsBytes = 1u << 20;

std::wstring settings_path() { return join_path(data_dir(), L"settings.json"); }

}  // namespace

ProviderSettings load_provider_settings() {
  auto bytes = read_small_file(settings_path(), kMaxSettingsBytes);
  return bytes ? parse_provider_settings(*bytes) : ProviderSettings{};
}

std::optional<std::string> save_provider_settings(const ProviderSettings& settings) {
  create_directories(data_dir());
  return write_whole_file(settings_path(), format_provider_settings(settings));
}

}  // namespace lumaro
