#include "runner/chat_engine.h"

#include <cstdio>

#include "apps/target_app.h"
#include "base/overloaded.h"
#include "chat/prompt.h"
#include "ipc/codec.h"
#include "log/log.h"
#include "providers/catalogue.h"
#include "providers/state_event.h"
#include "runner/workers.h"

namespace lumaro {
namespace {

constexpr const char* kNoSession = "창 정보가 없습니다. 패널을 닫았다 다시 여십시오.";
constexpr const char* kBusy = "응답 중입니다. 멈춘 뒤 다시 보내십시오.";
constexpr const char* kStopped = "멈췄습니다";
constexpr const char* kAppliesItself = "이 앱은 패널에서 직접 적용합니다.";
constexpr size_t kBrowserTitleChars = 40;

// Number of Unicode scalar values in valid UTF-8.
size_t char_count(std::string_view utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

// The first `chars` scalar values of valid UTF-8.
std::string first_chars(std::string_view utf8, size_t chars) {
  size_t i = 0, seen = 0;
  while (i < utf8.size()) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && seen++ == chars) break;
    ++i;
  }
  return std::string(utf8.substr(0, i));
}

bool valid_resume_id(const std::string& id) {
  if (id.empty() || id.size() > 128) return false;
  for (char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::string hex_window(WindowId w) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(w));
  return buf;
}

void ChatEngine::create_state() {
  state_.emplace();
  state_->settings = env_.load_settings();
}

// ---- events -------------------------------------------------------------------

void ChatEngine::send_event(ConnectionId connection, const Event& event) {
  if (auto sink = connections_.lookup(connection)) sink->push(encode(event));
}

StateEvent ChatEngine::build_state_event() {
  return with_state([](ChatState& s) { return lumaro::build_state_event(s.settings, s.logins); });
}

void ChatEngine::broadcast_state() {
  const std::string line = encode(build_state_event());
  for (auto& sink : connections_.all()) sink->push(line);
}

void ChatEngine::spawn_worker(const char* what, std::function<void()> work) {
  if (!env_.spawn(std::move(work))) log_line(std::string("작업 스레드 시작 실패 ") + what);
}

// ---- requests -----------------------------------------------------------------

void ChatEngine::dispatch(ConnectionId connection, const Request& request) {
  std::visit(Overloaded{
                 [&](const HelloRequest& r) { on_hello(connection, r); },
                 [&](const OpenRequest& r) { on_open(connection, r); },
                 [&](const CloseRequest& r) { on_close(connection, r); },
                 [&](const SendRequest& r) { on_send(connection, r); },
                 [&](const StopRequest& r) { on_stop(connection, r); },
                 [&](const ImageRequest& r) { on_image(connection, r); },
                 [&](const UsageRequest& r) { on_usage(connection, r); },
                 [&](const LoginRequest& r) { on_login(connection, r); },
                 [&](const LogoutRequest& r) { on_logout(connection, r); },
                 [&](const AccountRequest& r) { on_account(connection, r); },
                 [&](const SelectRequest& r) { on_select(r); },
                 [&](const ResetRequest& r) { on_reset(connection, r); },
                 [&](const ApplyRequest& r) { on_apply(connection, r); },
             },
             request);
}

void ChatEngine::on_hello(ConnectionId connection, const HelloRequest& r) {
  log_line("hook 인사 연결 " + std::to_string(connection) + " pid=" + std::to_string(r.pid) + " " +
           std::to_string(r.bits) + "비트 " + r.exe);
  const auto now = env_.now();
  const bool refresh = with_state([&](ChatState& s) {
    s.exes[connection] = r.exe;
    s.pids[connection] = r.pid;
    return !s.last_account_refresh || now - *s.last_account_refresh > kAccountRefreshInterval;
  });
  send_event(connection, build_state_event());
  if (refresh) start_account_refresh();
}

void ChatEngine::on_open(ConnectionId connection, const OpenRequest& r) {
  const SessionKey key{connection, r.w};
  const std::string exe = with_state([&](ChatState& s) {
    auto it = s.exes.find(connection);
    std::string exe = it == s.exes.end() ? std::string() : it->second;
    if (auto session = s.sessions.find(key); session != s.sessions.end()) {
      session->second.title = r.title;
    } else if (s.sessions.size() < kMaxPanelSessions) {
      PanelSession fresh;
      fresh.exe = exe;
      fresh.title = r.title;
      s.sessions.emplace(key, std::move(fresh));
    }
    return exe;
  });

  const TargetApp row = classify(exe);
  const std::string display = host_display_name(exe);
  auto set_ready = [&] {
    with_state([&](ChatState& s) {
      if (auto it = s.sessions.find(key); it != s.sessions.end()) it->second.ready = true;
    });
  };

  switch (row.kind) {
    case TargetKind::Connector:
      send_event(connection, ConnEvent{r.w, true, display + " 연결 확인 중"});
      spawn_worker("연결 점검", [this, w = r.w, connection, display, exe, row] {
        connector_preflight(*this, w, connection, display, exe, row);
      });
      break;
    case TargetKind::EditControl:
      set_ready();
      send_event(connection, ConnEvent{r.w, true, display + " 연결됨 · 선택 영역 읽기"});
      break;
    case TargetKind::Hangul: {
      send_event(connection, ConnEvent{r.w, true, "한글 연결 확인 중"});
      const uint32_t pid = with_state([&](ChatState& s) {
        auto it = s.pids.find(connection);
        return it == s.pids.end() ? 0u : it->second;
      });
      spawn_worker("한글 상태", [this, w = r.w, pid, connection] { hangul_status_check(*this, w, pid, connection); });
      break;
    }
    case TargetKind::Office:
      set_ready();
      send_event(connection, ConnEvent{r.w, true, display + " 연결됨 · 작업창"});
      break;
    case TargetKind::Browser: {
      set_ready();
      const std::string title = with_state([&](ChatState& s) {
        auto it = s.sessions.find(key);
        return it == s.sessions.end() ? r.title : it->second.title;
      });
      send_event(connection, ConnEvent{r.w, true, display + " 연결됨 · " + first_chars(title, kBrowserTitleChars)});
      break;
    }
  }
}

void ChatEngine::on_close(ConnectionId connection, const CloseRequest& r) {
  std::optional<JobHandle> job;
  with_state([&](ChatState& s) {
    auto it = s.sessions.find({connection, r.w});
    if (it == s.sessions.end()) return;
    job = std::move(it->second.job);
    s.sessions.erase(it);
  });
  if (job) job->cancel();
}

void ChatEngine::on_send(ConnectionId connection, const SendRequest& r) {
  const auto [kind, pid] = with_state([&](ChatState& s) {
    auto exe = s.exes.find(connection);
    auto pid = s.pids.find(connection);
    return std::pair{classify(exe == s.exes.end() ? std::string() : exe->second).kind,
                     pid == s.pids.end() ? 0u : pid->second};
  });
  if (kind == TargetKind::Hangul) {
    HangulQuestion q{r.w, r.text, r.provider, r.model, r.preset, pid, connection};
    spawn_worker("한글 읽기", [this, q = std::move(q)]() mutable { hangul_read_step(*this, std::move(q)); });
    return;
  }
  start_turn(connection, r.w, r.text, r.context, r.provider, r.model, r.preset);
}

void ChatEngine::on_stop(ConnectionId connection, const StopRequest& r) {
  std::optional<JobHandle> job;
  with_state([&](ChatState& s) {
    auto it = s.sessions.find({connection, r.w});
    if (it == s.sessions.end() || !it->second.job) return;
    it->second.stopped = true;
    job = it->second.job;  // stays in the session until the turn finishes
  });
  if (job) job->cancel();
}

void ChatEngine::on_image(ConnectionId connection, const ImageRequest& r) {
  with_state([&](ChatState& s) {
    auto it = s.sessions.find({connection, r.w});
    if (it != s.sessions.end() && it->second.pending_images.size() < kMaxPendingImages) {
      it->second.pending_images.push_back(r.data);
    }
  });
}

void ChatEngine::on_usage(ConnectionId connection, const UsageRequest& r) {
  const int p = provider_index(r.provider);
  if (p != 0) {
    send_event(connection, NoteEvent{r.w, "§usage:[]"});
    return;
  }
  spawn_worker("사용량", [this, w = r.w, connection] { usage_query(*this, w, connection); });
}

void ChatEngine::on_login(ConnectionId connection, const LoginRequest& r) {
  // start_login itself sets logging_in, broadcasts and sends the started note
  // before the login can end, so a tool that exits at once is never followed
  // by a stale logging_in.
  start_login(*this, connection, r);
}

void ChatEngine::on_logout(ConnectionId connection, const LogoutRequest& r) {
  const int p = provider_index(r.provider);
  spawn_worker("로그아웃", [this, w = r.w, connection, p] { run_logout(*this, w, connection, p); });
}

void ChatEngine::on_account(ConnectionId connection, const AccountRequest& r) {
  const int p = provider_index(r.provider);
  spawn_worker("계정", [this, w = r.w, connection, p] { account_query(*this, w, connection, p); });
}

void ChatEngine::on_select(const SelectRequest& r) {
  const auto error = with_state([&](ChatState& s) {
    s.settings.provider = std::string(provider_id(provider_index(r.provider)));
    s.settings.model = r.model;
    return env_.save_settings(s.settings);
  });
  if (error) log_line("설정 저장 실패 " + *error);
  broadcast_state();
}

void ChatEngine::on_reset(ConnectionId connection, const ResetRequest& r) {
  with_state([&](ChatState& s) {
    auto it = s.sessions.find({connection, r.w});
    if (it == s.sessions.end()) return;
    it->second.resume_ids.clear();
    if (valid_resume_id(r.session)) {
      it->second.resume_ids[std::string(provider_id(provider_index(r.provider)))] = r.session;
    }
  });
}

void ChatEngine::on_apply(ConnectionId connection, const ApplyRequest& r) {
  struct Snapshot {
    bool found = false;
    uint32_t pid = 0;
    std::optional<std::string> snapshot;
    uint8_t scope = 0;
    std::string exe;
  };
  const Snapshot snap = with_state([&](ChatState& s) {
    Snapshot out;
    auto pid = s.pids.find(connection);
    out.pid = pid == s.pids.end() ? 0 : pid->second;
    auto it = s.sessions.find({connection, r.w});
    if (it == s.sessions.end()) return out;
    out.found = true;
    out.snapshot = it->second.read_snapshot;
    out.scope = it->second.read_scope;
    out.exe = it->second.exe;
    return out;
  });
  if (!snap.found || classify(snap.exe).kind != TargetKind::Hangul) {
    send_event(connection, NoteEvent{r.w, kAppliesItself});
    return;
  }
  spawn_worker("한글 적용", [this, w = r.w, text = r.text, snap, connection] {
    hangul_apply_step(*this, w, text, snap.snapshot, snap.pid, connection, snap.scope);
  });
}

// ---- turns --------------------------------------------------------------------

void ChatEngine::start_turn(ConnectionId connection, WindowId w, const std::string& text,
                            const std::string& context, const std::string& provider, const std::string& model,
                            const std::string& preset) {
  const int p = provider_index(provider);
  const std::string pid_key(provider_id(p));

  enum class Check { no_session, busy, missing, ok };
  struct Copy {
    Check check = Check::ok;
    bool ready = false;
    std::string exe, title;
    std::optional<std::string> resume_id;
  };
  const Copy copy = with_state([&](ChatState& s) {
    Copy c;
    auto it = s.sessions.find({connection, w});
    if (it == s.sessions.end()) {
      c.check = Check::no_session;
    } else if (it->second.job) {
      c.check = Check::busy;
    } else if (s.logins[p] == LoginState::missing) {
      c.check = Check::missing;
    } else {
      c.ready = it->second.ready;
      c.exe = it->second.exe;
      c.title = it->second.title;
      if (auto id = it->second.resume_ids.find(pid_key); id != it->second.resume_ids.end()) c.resume_id = id->second;
    }
    return c;
  });
  switch (copy.check) {
    case Check::no_session: send_event(connection, DoneEvent{w, kNoSession}); return;
    case Check::busy: send_event(connection, DoneEvent{w, kBusy}); return;
    case Check::missing:
      send_event(connection, DoneEvent{w, std::string(provider_product_name(p)) +
                                              " 이 설치되어 있지 않습니다. 설치 후 다시 시도하십시오."});
      return;
    case Check::ok: break;
  }
  if (!copy.ready) log_line("사전 점검 통과 전 요청 창 " + hex_window(w));

  const TargetApp row = classify(copy.exe);
  auto prompt = build_prompt(row, copy.title, text, context, preset);
  if (!prompt) {
    send_event(connection, DoneEvent{w, kPresetError});
    return;
  }

  // Mark the panel busy before the job exists: a job can deliver its finished
  // item before start_job returns (a tool that fails at once), and storing the
  // handle after that would leave the panel busy for good.
  const bool claimed = with_state([&](ChatState& s) {
    auto it = s.sessions.find({connection, w});
    if (it == s.sessions.end() || it->second.job) return false;
    it->second.job = JobHandle(nullptr);
    it->second.stopped = false;
    return true;
  });
  if (!claimed) {
    send_event(connection, DoneEvent{w, kNoSession});
    return;
  }

  TurnRequest request;
  request.system_prompt = std::move(prompt->system_prompt);
  request.message = std::move(prompt->message);
  request.model = model;
  request.resume_id = copy.resume_id;
  request.reply = {connection, w, p};
  if (row.kind == TargetKind::Connector) {
    if (auto found = env_.connector_for(copy.exe, row)) request.connector = TurnConnector{std::string(row.connector.name), *found};
  }
  request.images = with_state([&](ChatState& s) {
    auto it = s.sessions.find({connection, w});
    return it == s.sessions.end() ? std::vector<std::string>() : std::exchange(it->second.pending_images, {});
  });

  log_line("요청 " + std::string(provider_label(p)) + " 창 " + hex_window(w) + " 글자 " +
           std::to_string(char_count(text)) + " 문맥 " + std::to_string(prompt->context_bytes) + "바이트");

  auto started = start_job(*this, std::move(request));
  JobHandle* job = std::get_if<JobHandle>(&started);
  // Store the handle only while the placeholder is still there; a stop that
  // came in meanwhile hit the placeholder, so pass it on to the real job.
  const bool cancel_now = with_state([&](ChatState& s) {
    auto it = s.sessions.find({connection, w});
    if (it == s.sessions.end() || !it->second.job || !it->second.job->is_placeholder()) return false;
    if (!job) {
      it->second.job.reset();
      return false;
    }
    it->second.job = *job;
    return it->second.stopped;
  });
  if (!job) {
    send_event(connection, DoneEvent{w, std::get<std::string>(started)});
    return;
  }
  if (cancel_now) job->cancel();
}

void ChatEngine::deliver(const ReplyAddress& to, const StreamItem& item) {
  const WindowId w = to.window;
  std::visit(Overloaded{
                 [&](const TextItem& t) { send_event(to.connection, TextEvent{w, t.text, t.new_block}); },
                 [&](const ToolItem& t) { send_event(to.connection, ToolEvent{w, t.name, t.args}); },
                 [&](const NoteItem& n) { send_event(to.connection, NoteEvent{w, n.text}); },
                 [&](const FinishedItem& f) {
                   if (f.conversation_id) {
                     if (to.provider == 1) {
                       for (auto& note : codex_turn_notes(*this, *f.conversation_id)) {
                         send_event(to.connection, NoteEvent{w, note});
                       }
                     }
                     send_event(to.connection, NoteEvent{w, "§session:" + *f.conversation_id});
                   }
                   const bool stopped = with_state([&](ChatState& s) {
                     auto it = s.sessions.find({to.connection, w});
                     if (it == s.sessions.end()) return false;
                     it->second.job.reset();
                     if (f.conversation_id) it->second.resume_ids[std::string(provider_id(to.provider))] = *f.conversation_id;
                     return std::exchange(it->second.stopped, false);
                   });
                   std::string error = stopped ? kStopped : f.error.value_or("");
                   if (!error.empty()) log_line("요청 끝 오류 " + error);
                   send_event(to.connection, DoneEvent{w, error});
                 },
             },
             item);
}

void ChatEngine::start_account_refresh() {
  const auto now = env_.now();
  with_state([&](ChatState& s) {
    s.last_account_refresh = now;
    for (auto& state : s.logins) {
      if (state == LoginState::unknown) state = LoginState::checking;
    }
  });
  spawn_worker("계정 확인", [this] { account_refresh(*this); });
}

// ---- connection end and host stop ------------------------------------------------

void ChatEngine::forget_connection(ConnectionId connection) {
  std::string exe;
  uint32_t pid = 0;
  std::vector<JobHandle> jobs;
  with_state([&](ChatState& s) {
    if (auto it = s.exes.find(connection); it != s.exes.end()) exe = it->second;
    if (auto it = s.pids.find(connection); it != s.pids.end()) pid = it->second;
  });
  // The Hangul client registry has its own lock, never taken with ours.
  if (pid != 0 && classify(exe).kind == TargetKind::Hangul) release_hangul_client(pid);
  with_state([&](ChatState& s) {
    s.exes.erase(connection);
    s.pids.erase(connection);
    auto it = s.sessions.lower_bound({connection, 0});
    while (it != s.sessions.end() && it->first.connection == connection) {
      if (it->second.job) jobs.push_back(*it->second.job);
      it = s.sessions.erase(it);
    }
  });
  for (auto& job : jobs) job.cancel();
}

void ChatEngine::cancel_all_jobs() {
  // Cancelling only sets a flag or terminates a process; it never waits, so
  // it is safe under the lock and matches "cancel every job at this moment".
  with_state([&](ChatState& s) {
    for (auto& [key, session] : s.sessions) {
      if (session.job) session.job->cancel();
    }
  });
}

}  // namespace lumaro
