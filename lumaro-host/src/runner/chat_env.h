// The operating-system services the chat engine uses, behind one interface so
// the engine itself is portable: the Windows host passes the real ones, native
// tests pass an in-memory environment with a controllable clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "apps/connector.h"
#include "apps/target_app.h"
#include "providers/settings.h"

namespace lumaro {

class ChatEnv {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~ChatEnv() = default;

  // The provider settings file; defaults when missing or unreadable.
  virtual ProviderSettings load_settings() = 0;
  // Writes the file; the error text on failure.
  virtual std::optional<std::string> save_settings(const ProviderSettings& settings) = 0;

  // LUMARO_MOCK is exactly "1" (read at every call).
  virtual bool mock_mode() = 0;
  // LUMARO_MOCK_LOGIN is exactly "out" (read at every call).
  virtual bool mock_login_out() = 0;

  virtual uint32_t host_pid() = 0;
  virtual Clock::time_point now() = 0;
  virtual bool spawn(std::function<void()> work) = 0;
  virtual void sleep_ms(unsigned milliseconds) = 0;

  // The application connector of a target's executable, if it can be started.
  virtual std::optional<ConnectorSpec> connector_for(const std::string& exe, const TargetApp& row) = 0;
};

}  // namespace lumaro
