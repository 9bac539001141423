// Provider login states as the panels see them.
#include <atomic>

#include "apps/target_app.h"
#include "log/log.h"
#include "providers/catalogue.h"
#include "runner/account_parse.h"
#include "runner/accounts.h"
#include "runner/login_plan.h"
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

void account_query(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  send_account_note(engine, w, connection, provider);
}

void send_account_note(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  engine.send_event(connection, NoteEvent{w, account_note(account_status(engine, provider))});
}

void login_finished(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  const LoginState state = login_state(engine, provider);
  // Unconditional: this is the one step that ends a logging_in state.
  engine.with_state([&](ChatState& s) { s.logins[provider] = state; });
  log_line(fill_message(kLogLoginFinished, provider_label(provider), kStateLogNames[static_cast<int>(state)]));
  engine.broadcast_state();
  send_account_note(engine, w, connection, provider);
}

void mark_login_started(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  engine.with_state([&](ChatState& s) { s.logins[provider] = LoginState::logging_in; });
  engine.broadcast_state();
  engine.send_event(connection, NoteEvent{w, fill_message(kLoginStarted, provider_label(provider))});
}

bool start_mock_login(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  mark_login_started(engine, w, connection, provider);
  const bool started = engine.env().spawn([&engine, w, connection, provider] {
    engine.env().sleep_ms(1500);
    mock_login_flag().exchange(true);
    login_finished(engine, w, connection, provider);
  });
  // Without its thread nothing would ever end the logging_in just announced.
  if (!started) login_finished(engine, w, connection, provider);
  return started;
}

void logout_succeeded(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  const std::string id(provider_id(provider));
  engine.with_state([&](ChatState& s) {
    s.logins[provider] = LoginState::out;
    for (auto& [key, session] : s.sessions) session.resume_ids.erase(id);
  });
  log_line(fill_message(kLogLoggedOut, provider_label(provider)));
  engine.broadcast_state();
  engine.send_event(connection, NoteEvent{w, fill_message(kLoggedOut, provider_label(provider))});
}

bool is_browser_connection(ChatEngine& engine, ConnectionId connection) {
  return engine.with_state([&](ChatState& s) {
    auto it = s.exes.find(connection);
    return it != s.exes.end() && it->second.starts_with(kBrowserPrefix);
  });
}

}  // namespace lumaro
