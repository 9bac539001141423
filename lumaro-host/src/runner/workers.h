// Entry points of the work the chat engine hands to worker threads. Each runs
// on a thread of its own (never on a connection thread) and reports back only
// through the engine's send_event / broadcast_state.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <variant>

#include "apps/target_app.h"
#include "runner/chat_engine.h"

namespace lumaro {

// Starts the answer job of a turn: the mock job in mock mode, otherwise the
// provider's command-line tool. The handle, or the message for "done".
std::variant<JobHandle, std::string> start_job(ChatEngine& engine, TurnRequest request);

// Provider accounts.
LoginState login_state(ChatEngine& engine, int provider);
// The check of the provider's own tool (outside mock mode).
LoginState probe_login_state(ChatEngine& engine, int provider);
// Set by a finished mock login, cleared by a mock logout.
std::atomic<bool>& mock_login_flag();
void account_refresh(ChatEngine& engine);
void account_query(ChatEngine& engine, WindowId w, ConnectionId connection, int provider);
void login_finished(ChatEngine& engine, WindowId w, ConnectionId connection, int provider);
// Runs on the connection thread; true when the login has been started, in
// which case logging_in is already set, broadcast and announced.
bool start_login(ChatEngine& engine, ConnectionId connection, const LoginRequest& request);
void run_logout(ChatEngine& engine, WindowId w, ConnectionId connection, int provider);
void usage_query(ChatEngine& engine, WindowId w, ConnectionId connection);

// The spreadsheet connector check of a newly opened panel.
void connector_preflight(ChatEngine& engine, WindowId w, ConnectionId connection, std::string display,
                         std::string exe, TargetApp row);

// Hangul documents.
struct HangulQuestion {
  WindowId w = 0;
  std::string text, provider, model, preset;
  uint32_t pid = 0;
  ConnectionId connection = 0;
};
void hangul_read_step(ChatEngine& engine, HangulQuestion question);
void hangul_status_check(ChatEngine& engine, WindowId w, uint32_t pid, ConnectionId connection);
void hangul_apply_step(ChatEngine& engine, WindowId w, std::string text, std::optional<std::string> snapshot,
                       uint32_t pid, ConnectionId connection, uint8_t scope);
void release_hangul_client(uint32_t pid);

// Model and effort notes the chatgpt tool recorded for a conversation.
std::vector<std::string> codex_turn_notes(ChatEngine& engine, const std::string& conversation_id);

}  // namespace lumaro
