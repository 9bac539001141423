#include "app/watcher_win.h"

#include <iterator>

#include "base/file_win.h"
#include "base/text_win.h"
#include "log/log.h"

namespace lumaro {
namespace {

#ifdef _WIN64
constexpr bool kBuildIs64Bit = true;
#else
constexpr bool kBuildIs64Bit = false;
#endif

constexpr UINT kExamineQueryMs = 200;
constexpr UINT kCheckQueryMs = 50;
// A helper ends on its own within about 3 s of hooking; waiting longer at the
// stop would only hold up the host's exit.
constexpr DWORD kHelperStopWaitMs = 5000;

uint64_t handle_value(HWND window) { return reinterpret_cast<uintptr_t>(window); }

WindowFacts window_facts(HWND window) {
  WindowFacts f;
  f.exists = IsWindow(window);
  if (!f.exists) return f;
  f.visible = IsWindowVisible(window);
  f.is_own_root = GetAncestor(window, GA_ROOT) == window;
  f.has_owner = GetWindow(window, GW_OWNER) != nullptr;
  f.style = static_cast<uint32_t>(GetWindowLongPtrW(window, GWL_STYLE));
  f.ex_style = static_cast<uint32_t>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  RECT r{};
  if (GetWindowRect(window, &r)) {
    f.width = r.right - r.left;
    f.height = r.bottom - r.top;
  }
  return f;
}

// Sets a flag for the lifetime of a scope.
class InUse {
 public:
  explicit InUse(bool& flag) : flag_(flag) { flag_ = true; }
  ~InUse() { flag_ = false; }
  InUse(const InUse&) = delete;
  InUse& operator=(const InUse&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void Watcher::init(HWND host_window, WatcherMessages messages, std::vector<std::string> targets, DWORD host_pid) {
  messages_ = messages;
  targets_ = std::move(targets);
  host_pid_ = host_pid;
  library_ = load_hook_library();
  host_window_ = host_window;
}

void Watcher::enqueue_window(HWND window) {
  if (!ready()) return;
  // The queue is safe to grow at any time: examine_queue takes windows off it
  // by value, one at a time.
  if (queue_.size() < kMaxExamineQueue && queued_.insert(window).second) queue_.push_back(window);
  PostMessageW(host_window_, kExamineQueueMessage, 0, 0);
}

void Watcher::examine_queue() {
  // A nested call (a sent message during a query) leaves the queue to the
  // loop already running.
  if (!ready() || in_use_) return;
  InUse guard(in_use_);
  while (!queue_.empty() && !stopped_) {
    HWND window = queue_.front();
    queue_.pop_front();
    queued_.erase(window);
    examine(window);
  }
}

void Watcher::examine(HWND window) {
  WindowFacts facts = window_facts(window);
  DWORD pid = 0;
  if (facts.exists) facts.tid = GetWindowThreadProcessId(window, &pid);
  if (!is_panel_window(facts) || pid == host_pid_) return;
  const DWORD tid = facts.tid;

  const auto path = process_image_path(pid);
  if (!path || !is_injection_target(*path, targets_)) return;

  auto current = [&]() -> Entry* {
    auto it = table_.find(window);
    return it != table_.end() && it->second.pid == pid && it->second.tid == tid ? &it->second : nullptr;
  };
  if (Entry* e = current(); !may_examine(e ? &e->record : nullptr)) return;

  const bool answers = panel_answers(window, messages_.query, kExamineQueryMs);
  if (stopped_) return;
  Entry* entry = current();  // looked up again: the query dispatched messages
  if (entry && !may_examine(&entry->record)) return;
  if (answers) {
    if (entry) entry->record = {entry->record.attempt, AttachState::attached, 0, false};
    return;
  }

  if (!make_room_for(window)) {
    log_line("대상 창 표가 가득 참, 건너뜀 hwnd=" + hex_handle(handle_value(window)));
    return;
  }
  const int attempt = next_attempt(entry ? &entry->record : nullptr);
  log_line("대상 창 감지 hwnd=" + hex_handle(handle_value(window)) + " pid=" + std::to_string(pid) +
           " tid=" + std::to_string(tid) + " " + *path + " 시도 " + std::to_string(attempt));

  Entry outcome = inject_window(window, pid, tid);
  outcome.pid = pid;
  outcome.tid = tid;
  outcome.record.attempt = attempt;
  if (auto it = table_.find(window); it != table_.end()) {
    release(it->second);
    it->second = std::move(outcome);
  } else {
    table_.emplace(window, std::move(outcome));
  }
}

bool Watcher::make_room_for(HWND window) {
  if (table_.size() < kMaxAttachEntries || table_.count(window)) return true;
  for (auto it = table_.begin(); it != table_.end();) {
    if (IsWindow(it->first)) {
      ++it;
    } else {
      release(it->second);
      it = table_.erase(it);
    }
  }
  return table_.size() < kMaxAttachEntries;
}

Watcher::Entry Watcher::inject_window(HWND window, DWORD pid, DWORD tid) {
  Entry entry;
  auto fail = [&](const InjectFailure& failure) {
    log_line(inject_failure_line(handle_value(window), failure));
    entry.record.state = AttachState::failed;
    entry.record.attempts_used = failure.permanent ? kMaxAttempts : 0;
    entry.record.give_up = failure.permanent;
    return std::move(entry);
  };

  std::optional<bool> host_wow64, target_wow64;
  if (!kBuildIs64Bit) host_wow64 = process_is_wow64(GetCurrentProcess());
  if (kBuildIs64Bit || host_wow64.value_or(false)) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (process) target_wow64 = process_is_wow64(process.get());
  }
  switch (choose_route(kBuildIs64Bit, host_wow64, target_wow64)) {
    case InjectRoute::unknown:
      log_line("비트 판별 실패 pid=" + std::to_string(pid) + ", 권한 높은 프로세스일 수 있음. 건너뜀");
      entry.record.state = AttachState::failed;
      entry.record.attempts_used = kMaxAttempts;
      entry.record.give_up = true;
      return entry;
    case InjectRoute::helper: {
      log_line("비트 다름(대상 " + std::string(other_arch(kBuildIs64Bit)) + "), 보조 host 에 위임");
      const std::string arch(other_arch(kBuildIs64Bit));
      std::wstring helper_path;
      for (const std::wstring& candidate : helper_host_candidates(own_exe_path(), to_wide(arch))) {
        if (GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) {
          helper_path = candidate;
          break;
        }
      }
      if (helper_path.empty()) return fail(no_other_host_failure());
      std::wstring command = helper_command_line(helper_path, handle_value(window));
      STARTUPINFOW si{};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi{};
      if (!CreateProcessW(helper_path.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &si, &pi)) {
        return fail(helper_start_failure(to_utf8(helper_path), system_error_text(GetLastError())));
      }
      CloseHandle(pi.hThread);
      entry.record.state = AttachState::helper_running;
      entry.helper.reset(pi.hProcess);
      entry.since_ns = steady_ns();
      return entry;
    }
    case InjectRoute::local:
      break;
  }

  LocalHook hook = hook_and_attach(library_, window, tid, messages_.attach);
  if (hook.failure) return fail(*hook.failure);
  entry.record.state = AttachState::hooked;
  entry.hook = hook.hook;
  entry.since_ns = steady_ns();
  return entry;
}

void Watcher::check_attachments() {
  if (!ready() || in_use_) return;
  InUse guard(in_use_);

  std::vector<HWND> pending;
  for (const auto& [window, entry] : table_) {
    if (entry.record.state == AttachState::hooked || entry.record.state == AttachState::helper_running) {
      pending.push_back(window);
    }
  }

  std::vector<HWND> retry;
  for (HWND window : pending) {
    auto find_pending = [&]() -> Entry* {
      auto it = table_.find(window);
      if (it == table_.end()) return nullptr;
      const AttachState s = it->second.record.state;
      return s == AttachState::hooked || s == AttachState::helper_running ? &it->second : nullptr;
    };
    // A helper's answer counts only once it has ended (or its time is up), so
    // a running helper is not queried at all.
    if (Entry* e = find_pending(); e && e->record.state == AttachState::helper_running) {
      const bool running = WaitForSingleObject(e->helper.get(), 0) == WAIT_TIMEOUT;
      if (!helper_attempt_over(IsWindow(window), attach_timed_out(steady_ns() - e->since_ns), running)) continue;
    }

    const bool attached = panel_answers(window, messages_.query, kCheckQueryMs);
    if (stopped_) return;
    Entry* entry = find_pending();
    if (!entry) continue;
    const bool exists = IsWindow(window);
    const bool timed_out = attach_timed_out(steady_ns() - entry->since_ns);

    std::optional<uint32_t> exit_code;
    if (entry->record.state == AttachState::hooked) {
      if (!hooked_attempt_over(attached, exists, timed_out)) continue;
    } else {
      HANDLE helper = entry->helper.get();
      const bool running = WaitForSingleObject(helper, 0) == WAIT_TIMEOUT;
      if (!helper_attempt_over(exists, timed_out, running)) continue;
      if (running) {
        TerminateProcess(helper, 1);
        WaitForSingleObject(helper, kHelperStopWaitMs);
      } else if (DWORD code = 0; GetExitCodeProcess(helper, &code)) {
        exit_code = code;
      }
    }
    release(*entry);

    const int attempt = entry->record.attempt;
    const Settlement s = settle_attempt(attempt, attached, exists, exit_code);
    entry->record = {attempt, s.state, s.attempts_used, s.give_up};
    if (s.log_attached) log_line("붙음 확인 hwnd=" + hex_handle(handle_value(window)));
    if (s.log_failure) {
      log_line("붙기 실패 hwnd=" + hex_handle(handle_value(window)) + " 시도 " + std::to_string(attempt) +
               " 보조 종료코드 " + format_exit_code(exit_code));
    }
    if (s.retry) retry.push_back(window);
  }
  for (HWND window : retry) enqueue_window(window);
}

void Watcher::abandon_all() {
  // Runs even when nested inside a query: the interrupted loop sees
  // `stopped_` after its query and returns without touching the table.
  stopped_ = true;
  // Helpers get one shared time to finish, not each their own: this runs on
  // the host's window thread while it stops.
  const ULONGLONG deadline = GetTickCount64() + kHelperStopWaitMs;
  for (auto& [window, entry] : table_) {
    if (entry.record.state == AttachState::helper_running && entry.helper) {
      const ULONGLONG now = GetTickCount64();
      const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
      if (WaitForSingleObject(entry.helper.get(), left) == WAIT_TIMEOUT) {
        TerminateProcess(entry.helper.get(), 1);
      }
    }
    release(entry);
  }
  table_.clear();
  queue_.clear();
  queued_.clear();
}

void Watcher::release(Entry& entry) {
  if (entry.hook) {
    UnhookWindowsHookEx(entry.hook);
    entry.hook = nullptr;
  }
  entry.helper.reset();
}

Watcher& watcher() {
  static Watcher instance;
  return instance;
}

void CALLBACK watcher_win_event(HWINEVENTHOOK, DWORD, HWND window, LONG object_id, LONG child_id, DWORD,
                                DWORD) noexcept {
  if (window && object_id == OBJID_WINDOW && child_id == CHILDID_SELF) watcher().enqueue_window(window);
}

}  // namespace lumaro
