// The short-lived modes: "--quit", the panel commands ("--toggle",
// "--release" and the release that ends "--quit" and the resident host), the
// helper host of the other bitness, and the modes whose work is not built yet
// (the browser relay and its registration), which log one line and fail with
// exit code 1 so nobody mistakes them for working.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "app/host_modes_win.h"
#include "app/command_line.h"
#include "app/host_names.h"
#include "app/injection_win.h"
#include "app/window_rules.h"
#include "base/text_win.h"
#include "base/unicode_lower.h"
#include "log/log.h"

namespace lumaro {
namespace {

int not_available(const char* what) {
  log_line(std::string(what) + " 기능이 이 빌드에 없습니다");
  return 1;
}

bool any_host_window() {
  for (const wchar_t* cls : kAllHostWindowClasses) {
    if (FindWindowExW(HWND_MESSAGE, nullptr, cls, nullptr)) return true;
  }
  return false;
}

}  // namespace

int run_quit(const std::vector<std::string>& targets) {
  int posted = 0;
  for (const wchar_t* cls : kAllHostWindowClasses) {
    if (HWND host = FindWindowExW(HWND_MESSAGE, nullptr, cls, nullptr)) {
      if (PostMessageW(host, WM_CLOSE, 0, 0)) ++posted;
    }
  }
  log_line("종료 요청 host " + std::to_string(posted) + "개");
  const ULONGLONG start = GetTickCount64();
  while (any_host_window() && (GetTickCount64() - start) / 1000 <= 4) Sleep(100);
  release_panels(targets);
  return 0;
}

namespace {

BOOL CALLBACK collect_window(HWND window, LPARAM param) noexcept {
  auto* list = reinterpret_cast<std::vector<HWND>*>(param);
  if (list->size() >= kMaxEnumeratedWindows) return FALSE;
  list->push_back(window);
  return TRUE;
}

// Top-level windows, at most 4096.
std::vector<HWND> top_level_windows() {
  std::vector<HWND> windows;
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// The target test of the panel commands, answered once per process: unlike
// the watcher's, it keeps listed Office programs, so a panel that got there
// some other way is still reached.
class TargetTest {
 public:
  explicit TargetTest(const std::vector<std::string>& targets) : targets_(targets) {}

  // The window's process id when it is a target, else 0.
  DWORD target_pid(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == 0 || pid == own_pid_) return 0;
    auto [it, inserted] = cache_.try_emplace(pid, false);
    if (inserted) {
      const auto path = process_image_path(pid);
      it->second = path && is_listed_exe(*path, targets_);
    }
    return it->second ? pid : 0;
  }

 private:
  const std::vector<std::string>& targets_;
  const DWORD own_pid_ = GetCurrentProcessId();
  std::unordered_map<DWORD, bool> cache_;
};

uint64_t handle_value(HWND window) { return reinterpret_cast<uintptr_t>(window); }

// Whether the process still has the hook library mapped; nothing when its
// modules cannot be listed.
std::optional<bool> hook_library_loaded(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  bool found = false;
  MODULEENTRY32W module{};
  module.dwSize = sizeof module;
  for (BOOL more = Module32FirstW(snapshot, &module); more && !found; more = Module32NextW(snapshot, &module)) {
    found = to_lower_unicode(to_utf8(module.szModule)) == kHookLibraryName;
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

void release_panels(const std::vector<std::string>& targets) {
  const WatcherMessages messages = register_panel_messages();
  TargetTest test(targets);
  std::vector<HWND> windows;
  std::vector<DWORD> pids;
  int posted = 0;
  for (HWND window : top_level_windows()) {
    const DWORD pid = test.target_pid(window);
    if (pid == 0 || !panel_answers(window, messages.query, 200)) continue;
    windows.push_back(window);
    if (std::find(pids.begin(), pids.end(), pid) == pids.end()) pids.push_back(pid);
    if (PostMessageW(window, messages.detach, 1, 0)) ++posted;
  }
  log_line("해제 명령 " + std::to_string(posted) + "개 창");

  auto any_answers = [&] {
    return std::any_of(windows.begin(), windows.end(),
                       [&](HWND w) { return panel_answers(w, messages.query, 100); });
  };
  const ULONGLONG start = GetTickCount64();
  while ((GetTickCount64() - start) / 1000 <= 1) {
    Sleep(100);
    if (!any_answers()) break;
  }
  const auto left = std::count_if(windows.begin(), windows.end(),
                                  [&](HWND w) { return panel_answers(w, messages.query, 100); });
  if (left != 0) log_line("해제 안 된 창 " + std::to_string(left) + "개");

  // A few messages for each target thread to run its deferred clean-up, and
  // time for the library's unload thread to finish.
  for (int i = 0; i < 3; ++i) {
    Sleep(300);
    for (HWND window : windows) PostMessageW(window, WM_NULL, 0, 0);
  }
  Sleep(300);

  for (DWORD pid : pids) {
    const auto loaded = hook_library_loaded(pid);
    if (!loaded) {
      log_line("pid=" + std::to_string(pid) + " 모듈 목록 확인 불가");
    } else {
      log_line("pid=" + std::to_string(pid) + " lumaro-hook.dll " + (*loaded ? "아직 올라 있음" : "내려감 확인"));
    }
  }
}

int run_toggle(const std::vector<std::string>& targets) {
  const WatcherMessages messages = register_panel_messages();
  TargetTest test(targets);
  int count = 0;
  for (HWND window : top_level_windows()) {
    if (test.target_pid(window) == 0 || !panel_answers(window, messages.query, 200)) continue;
    if (PostMessageW(window, messages.toggle, 0, 0)) ++count;
  }
  log_line("전환 명령 " + std::to_string(count) + "개 창");
  return 0;
}

int run_release(const std::vector<std::string>& targets) {
  release_panels(targets);
  return 0;
}

int run_helper(const std::vector<std::string>& args) {
  const auto value = parse_helper_hwnd(args);
  if (!value) return 1;
  const WatcherMessages messages = register_panel_messages();
  HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(*value));
  if (panel_answers(window, messages.query, 300)) return 0;

  const HookLibrary library = load_hook_library();
  if (!library.loaded()) return 1;
  const DWORD tid = GetWindowThreadProcessId(window, nullptr);
  if (tid == 0) {
    log_line("보조 host. 창 없음 " + hex_handle(handle_value(window)));
    return 1;
  }
  const LocalHook hook = hook_and_attach(library, window, tid, messages.attach);
  if (hook.failure) {
    log_line("보조 host. " + hook.failure->text);
    return hook.error == ERROR_ACCESS_DENIED ? 2 : 1;
  }

  const ULONGLONG start = GetTickCount64();
  bool confirmed = false;
  while ((GetTickCount64() - start) / 1000 <= 2) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(50);
    if (panel_answers(window, messages.query, 100)) {
      confirmed = true;
      break;
    }
  }
  // The panel keeps the library loaded by itself from here on.
  UnhookWindowsHookEx(hook.hook);
  log_line("보조 host. hwnd=" + hex_handle(handle_value(window)) + " " + (confirmed ? "붙음 확인" : "시간 초과"));
  return confirmed ? 0 : 1;
}

int run_relay(const std::vector<std::string>& args) { return not_available("브라우저 중계"); }
int run_register_browser(bool unregister) {
  return not_available(unregister ? "--unregister-browser" : "--register-browser");
}

}  // namespace lumaro
