// The resident host: single instance per bitness, a message-only window, the
// window-event hooks and emergency hotkey, the pipe server and chat engine,
// and the message loop that drives the watcher.
#include <windows.h>

#include "app/host_modes_win.h"
#include "app/host_names.h"
#include "app/pipe_server_win.h"
#include "app/watcher_win.h"
#include "ipc/pipe_name.h"
#include "log/log.h"
#include "runner/chat_engine.h"

namespace lumaro {
namespace {

struct ResidentHost {
  HWND window = nullptr;
  std::vector<std::string> targets;
  ChatEngine* engine = nullptr;
  bool stopping = false;
};

ResidentHost g_host;  // main thread only

std::string hex_handle(const void* h) { return hex_window(reinterpret_cast<uintptr_t>(h)); }

void orderly_stop() {
  if (g_host.stopping) return;
  g_host.stopping = true;
  KillTimer(g_host.window, kAttachTimerId);
  watcher().abandon_all();
  g_host.engine->cancel_all_jobs();
  release_panels(g_host.targets);
  if (HANDLE stop = host_stop_event()) SetEvent(stop);
  DestroyWindow(g_host.window);
}

LRESULT CALLBACK host_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  switch (msg) {
    case WM_CLOSE:
      log_line("종료 요청");
      orderly_stop();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wp) {
        log_line("Windows 종료");
        orderly_stop();
      }
      return 0;
    case WM_HOTKEY:
      if (static_cast<int>(wp) != kEmergencyHotkeyId) break;
      log_line("비상 해제 단축키");
      orderly_stop();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      if (wp != kAttachTimerId) break;
      watcher().check_attachments();
      return 0;
    case kExamineQueueMessage:
      watcher().examine_queue();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

BOOL CALLBACK enqueue_top_level(HWND window, LPARAM) noexcept {
  watcher().enqueue_window(window);
  return TRUE;
}

bool is_wow64_process() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

int run_resident_host(const std::vector<std::string>& targets, ChatEngine& engine) {
  // Left open for the life of the process; the system releases it at exit.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kHostMutexName);
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
    log_line("이미 실행 중, 종료");
    return 0;
  }

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = host_window_proc;
  wc.hInstance = instance;
  wc.lpszClassName = kHostWindowClass;
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, kHostWindowClass, kHostWindowClass, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                instance, nullptr);
  if (!window) {
    log_line("host 창 생성 실패");
    return 2;
  }
  g_host = {window, targets, &engine, false};

  const WatcherMessages messages{RegisterWindowMessageW(L"Lumaro.Attach.v1"), RegisterWindowMessageW(L"Lumaro.Query.v1"),
                                 RegisterWindowMessageW(L"Lumaro.Detach.v1"), RegisterWindowMessageW(L"Lumaro.Toggle.v1")};
  watcher().init(window, messages, targets, GetCurrentProcessId());

  const DWORD hook_flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
  HWINEVENTHOOK show_hook =
      SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, watcher_win_event, 0, 0, hook_flags);
  HWINEVENTHOOK foreground_hook =
      SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, watcher_win_event, 0, 0, hook_flags);
  if (!show_hook || !foreground_hook) {
    log_line("SetWinEventHook 일부 실패 [" + hex_handle(show_hook) + ", " + hex_handle(foreground_hook) + "]");
  }

  const bool hotkey = RegisterHotKey(window, kEmergencyHotkeyId, kEmergencyHotkeyModifiers, kEmergencyHotkeyKey);
  if (!hotkey) {
    log_line("단축키 등록 실패 오류 " + std::to_string(GetLastError()) +
             " (다른 프로그램이 사용 중일 수 있음). --quit 으로 해제 가능");
  }

  // A 32-bit host on 64-bit Windows only watches and injects: its panels
  // talk to the 64-bit host's pipe.
  if (!is_wow64_process()) {
    PipeHandlers handlers{[&engine](ConnectionId c, const Request& r) { engine.dispatch(c, r); },
                          [&engine](ConnectionId c) { engine.forget_connection(c); }};
    start_pipe_server(pipe_name(), std::move(handlers));
    engine.start_account_refresh();
  }

  EnumWindows(enqueue_top_level, 0);
  PostMessageW(window, kExamineQueueMessage, 0, 0);
  SetTimer(window, kAttachTimerId, kAttachTimerMs, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  if (show_hook) UnhookWinEvent(show_hook);
  if (foreground_hook) UnhookWinEvent(foreground_hook);
  if (hotkey) UnregisterHotKey(window, kEmergencyHotkeyId);
  log_line("종료");
  return 0;
}

}  // namespace lumaro
