// The chat engine's services on Windows: the settings file in the per-user
// data folder, the LUMARO_MOCK switches read at every use, worker threads.
#pragma once

#include "runner/chat_env.h"

namespace lumaro {

class WinChatEnv final : public ChatEnv {
 public:
  ProviderSettings load_settings() override;
  std::optional<std::string> save_settings(const ProviderSettings& settings) override;
  bool mock_mode() override;
  bool mock_login_out() override;
  uint32_t host_pid() override;
  Clock::time_point now() override;
  bool spawn(std::function<void()> work) override;
  void sleep_ms(unsigned milliseconds) override;
  std::optional<ConnectorSpec> connector_for(const std::string& exe, const TargetApp& row) override;
};

}  // namespace lumaro
