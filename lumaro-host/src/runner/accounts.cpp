// Provider login states as the panels see them.
#include <atomic>

#include "log/log.h"
#include "providers/catalogue.h"
#include "runner/workers.h"

namespace lumaro {
namespace {

constexpr const char* kStateLogNames[] = {"Unknown", "Checking", "Missing", "LoggedOut", "LoggingIn", "LoggedIn"};

}  // namespace

std::atomic<bool>& mock_login_flag() {
  static std::atomic<bool> flag{false};
  return flag;
}

LoginState login_state(ChatEngine& engine, int provider) {
  if (engine.env().mock_mode()) {
    if (!engine.env().mock_login_out()) return LoginState::in;
    return mock_login_flag().load() ? LoginState::in : LoginState::out;
  }
  return probe_login_state(engine, provider);
}

void account_refresh(ChatEngine& engine) {
  for (int p = 0; p < kProviderCount; ++p) {
    const LoginState state = login_state(engine, p);
    log_line("로그인 상태 " + std::string(provider_label(p)) + " " + kStateLogNames[static_cast<int>(state)]);
    engine.with_state([&](ChatState& s) {
      if (s.logins[p] != LoginState::logging_in) s.logins[p] = state;
    });
    engine.broadcast_state();
  }
}

}  // namespace lumaro
