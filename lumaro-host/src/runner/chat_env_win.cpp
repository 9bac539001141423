#include "runner/chat_env_win.h"

#include <windows.h>

#include "base/spawn.h"
#include "paths/user_paths.h"
#include "providers/settings_file_win.h"

namespace lumaro {

ProviderSettings WinChatEnv::load_settings() { return load_provider_settings(); }

std::optional<std::string> WinChatEnv::save_settings(const ProviderSettings& settings) {
  return save_provider_settings(settings);
}

bool WinChatEnv::mock_mode() { return mock_mode_from_env(); }

bool WinChatEnv::mock_login_out() { return read_env(L"LUMARO_MOCK_LOGIN") == std::optional<std::wstring>(L"out"); }

uint32_t WinChatEnv::host_pid() { return GetCurrentProcessId(); }

ChatEnv::Clock::time_point WinChatEnv::now() {
  // GetTickCount64 is monotonic and needs no runtime support beyond kernel32.
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(GetTickCount64())));
}

bool WinChatEnv::spawn(std::function<void()> work) { return spawn_detached(std::move(work)); }

void WinChatEnv::sleep_ms(unsigned milliseconds) { lumaro::sleep_ms(milliseconds); }

std::optional<ConnectorSpec> WinChatEnv::connector_for(const std::string& exe, const TargetApp& row) {
  return build_connector(exe, row);
}

}  // namespace lumaro
