// Worker entry points whose real work (the AI tools' runner and accounts, the
// Hangul automation, the connector check) is not built yet. Each logs and
// does the least it can honestly do, so a panel is never left waiting and
// nothing claims a success it did not have. Mock mode needs none of them,
// except the connector check, whose mock answer is complete here.
#include "log/log.h"
#include "providers/catalogue.h"
#include "runner/workers.h"

namespace lumaro {

std::variant<JobHandle, std::string> start_cli_job(ChatEngine& engine, TurnRequest request) {
  const int p = request.reply.provider;
  log_line("도구 실행기 없음 " + std::string(provider_label(p)));
  return std::string(provider_label(p)) + " 를 실행하지 못했습니다: 이 빌드에는 도구 실행기가 없습니다";
}

LoginState probe_login_state(ChatEngine& engine, int provider) {
  log_line("로그인 상태 확인 불가 " + std::string(provider_label(provider)));
  return LoginState::unknown;
}

void account_query(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  log_line("계정 조회 미지원 " + std::string(provider_label(provider)));
}

void login_finished(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  const LoginState state = login_state(engine, provider);
  engine.with_state([&](ChatState& s) { s.logins[provider] = state; });
  engine.broadcast_state();
}

bool start_login(ChatEngine& engine, ConnectionId connection, const LoginRequest& request) {
  const int p = provider_index(request.provider);
  log_line("로그인 미지원 " + std::string(provider_label(p)));
  engine.send_event(connection, NoteEvent{request.w, std::string(provider_label(p)) + " 로그인은 아직 지원되지 않습니다."});
  return false;
}

void run_logout(ChatEngine& engine, WindowId w, ConnectionId connection, int provider) {
  log_line("로그아웃 미지원 " + std::string(provider_label(provider)));
  engine.send_event(connection, NoteEvent{w, std::string(provider_label(provider)) + " 로그아웃은 아직 지원되지 않습니다."});
}

void usage_query(ChatEngine& engine, WindowId w, ConnectionId connection) { log_line("사용량 조회 미지원"); }

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

std::vector<std::string> codex_turn_notes(ChatEngine& engine, const std::string& conversation_id) { return {}; }

}  // namespace lumaro
