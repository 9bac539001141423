// Worker entry points whose real work (the Hangul automation, the connector
// check) is not built yet, and the native stand-ins of the Windows-only ones.
// Each logs and does the least it can honestly do, so a panel is never left
// waiting and nothing claims a success it did not have. Mock mode needs none
// of them, except the connector check, whose mock answer is complete here.
#include "log/log.h"
#include "providers/catalogue.h"
#include "runner/workers.h"

#ifndef _WIN32
#include "runner/account_parse.h"
#include "runner/accounts.h"
#include "runner/login_plan.h"
#include "runner/usage_parse.h"
#endif

namespace lumaro {

#ifndef _WIN32
// Native builds (the engine's unit tests) start no processes.
std::variant<JobHandle, std::string> start_cli_job(ChatEngine& engine, TurnRequest request) {
  const int p = request.reply.provider;
  log_line("도구 실행기 없음 " + std::string(provider_label(p)));
  return std::string(provider_label(p)) + " 를 실행하지 못했습니다: 이 빌드에는 도구 실행기가 없습니다";
}

// Without the Windows tool runner no tool is ever found: the account steps
// answer as for a machine with none installed, and the mock works in full.
LoginState probe_login_state(ChatEngine& engine, int provider) { return LoginState::missing; }

nlohmann::json account_status(ChatEngine& engine, int provider) { return account_not_installed(provider); }

bool start_login(ChatEngine& engine, ConnectionId connection, const LoginRequest& request) {
  const int p = provider_index(request.provider);
  if (engine.env().mock_mode()) return start_mock_login(engine, request.w, connection, p);
  engine.send_event(connection, NoteEvent{request.w, fill_message(kToolNotInstalled, provider_product_name(p))});
  return false;
}

void run_logout(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  if (engine.env().mock_mode()) {
    mock_login_flag().exchange(false);
    logout_succeeded(engine, w, connection, provider);
  } else {
    engine.send_event(connection, NoteEvent{w, fill_message(kToolNotInstalled, provider_product_name(provider))});
  }
  send_account_note(engine, w, connection, provider);
}

void usage_query(ChatEngine& engine, WindowId w, ConnectionId connection) {
  engine.send_event(connection, NoteEvent{w, usage_note({})});
}
#endif

void connector_preflight(ChatEngine& engine, WindowId w, ConnectionId connection, std::string display,
                         std::string exe, TargetApp row) {
  const bool ok = engine.env().mock_mode();
  engine.with_state([&](ChatState& s) {
    if (auto it = s.sessions.find({connection, w}); it != s.sessions.end()) it->second.ready = ok;
  });
  engine.send_event(connection, ConnEvent{w, ok, ok ? display + " 연결됨 (가짜 점검)" : display + " 연결 점검을 할 수 없습니다"});
}

void hangul_read_step(ChatEngine& engine, HangulQuestion question) {
  log_line("한글 읽기 미지원 창 " + hex_window(question.w));
  engine.send_event(question.connection, DoneEvent{question.w, "한글 문서 읽기는 아직 지원되지 않습니다."});
}

void hangul_status_check(ChatEngine& engine, WindowId w, uint32_t pid, ConnectionId connection) {
  engine.send_event(connection, ConnEvent{w, false, "한글 문서 연결은 아직 지원되지 않습니다"});
}

void hangul_apply_step(ChatEngine& engine, WindowId w, std::string text, std::optional<std::string> snapshot,
                       uint32_t pid, ConnectionId connection, uint8_t scope) {
  engine.send_event(connection, NoteEvent{w, "한글 문서 적용은 아직 지원되지 않습니다."});
}

void release_hangul_client(uint32_t pid) {}

#ifndef _WIN32
std::vector<std::string> codex_turn_notes(ChatEngine& engine, const std::string& conversation_id) { return {}; }
#endif

}  // namespace lumaro
