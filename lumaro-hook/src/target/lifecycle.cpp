#include "target/lifecycle.h"

#include <atomic>
#include <mutex>
#include <string>

#include "ipc/messages.h"
#include "log/log.h"
#include "pipe/pipe_client.h"
#include "target/attached_windows.h"
#include "target/module.h"
#include "target/subclass_api.h"
#include "target/thread_state.h"
#include "target/window_messages.h"
#include "util/format.h"

namespace lumaro::hook {
namespace {

// ---- module references -------------------------------------------------------
// Plain data behind an SRWLOCK: the attached count and whether the DLL holds
// its own reference. The classes flag and the rich edit module belong to the
// same life cycle and are torn down under the same lock.
Mutex g_refs_mutex;
size_t g_attached_count = 0;
bool g_ref_held = false;
std::atomic<bool> g_classes_registered{false};
std::atomic<HMODULE> g_richedit{nullptr};

constexpr DWORD kUnloadFirstPauseMs = 300;
constexpr DWORD kUnloadBusyPauseMs = 100;
constexpr int kUnloadBusyRounds = 100;
constexpr DWORD kUnloadLastPauseMs = 50;

// ---- DPI ----------------------------------------------------------------------
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
std::atomic<bool> g_dpi_resolved{false};
std::atomic<GetDpiForWindowFn> g_get_dpi{nullptr};

UINT window_dpi(HWND window) noexcept {
  if (!g_dpi_resolved.load()) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC found = user32 ? GetProcAddress(user32, "GetDpiForWindow") : nullptr;
    g_get_dpi.store(reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(found)));
    g_dpi_resolved.store(true);
  }
  const GetDpiForWindowFn fn = g_get_dpi.load();
  const UINT dpi = fn ? fn(window) : 0;
  return dpi ? dpi : 96;
}

WindowId window_id(HWND window) noexcept { return static_cast<WindowId>(reinterpret_cast<uintptr_t>(window)); }

// ---- classes ------------------------------------------------------------------

void register_classes() {
  // The panel's transcript is a rich edit control; its class must exist
  // before the first panel builds its controls.
  g_richedit.store(LoadLibraryW(L"Msftedit.dll"));

  WNDCLASSEXW panel = {};
  panel.cbSize = sizeof panel;
  panel.lpfnWndProc = &panel_wndproc;
  panel.hInstance = g_module;
  panel.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  panel.lpszClassName = kPanelClass;
  RegisterClassExW(&panel);

  WNDCLASSEXW icon = {};
  icon.cbSize = sizeof icon;
  icon.lpfnWndProc = &icon_wndproc;
  icon.hInstance = g_module;
  icon.hCursor = LoadCursorW(nullptr, IDC_HAND);
  icon.lpszClassName = kIconClass;
  RegisterClassExW(&icon);
}

// Called by the unload thread. Everything that an attach would rebuild is
// decided under the module-reference lock, so an attach either comes before
// (and keeps it all) or after (and finds it all gone and rebuilds it).
void tear_down_if_unused() {
  PipeClient* client = nullptr;
  HMODULE richedit = nullptr;
  bool unused = false;
  {
    std::lock_guard lock(g_refs_mutex);
    if (g_attached_count == 0) {
      unused = true;
      client = take_pipe_client();
      if (g_classes_registered.exchange(false)) {
        UnregisterClassW(kPanelClass, g_module);
        UnregisterClassW(kIconClass, g_module);
        richedit = g_richedit.exchange(nullptr);
      }
    }
  }
  if (!unused) return;
  stop_pipe_client(client);
  release_pipe_events();
  release_attached_windows();
  release_thread_state();
  if (richedit) FreeLibrary(richedit);
}

// When the unload thread has to keep the module after all, the reference it
// was handed goes back to the attach bookkeeping, so the next last release
// frees it. False when an attach took a reference of its own meanwhile: the
// thread's one is then surplus and must still be freed.
bool keep_module_reference() {
  std::lock_guard lock(g_refs_mutex);
  if (g_ref_held) return false;
  g_ref_held = true;
  return true;
}

DWORD WINAPI unload_thread(void*) noexcept {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&unload_thread), &self)) {
    return 0;
  }
  Sleep(kUnloadFirstPauseMs);
  for (int round = 0; g_frames_in_progress.load() != 0; ++round) {
    if (round == kUnloadBusyRounds) {
      log_line("창 프로시저 실행 중, 모듈 유지");
      if (keep_module_reference()) return 0;
      FreeLibraryAndExitThread(self, 0);
    }
    Sleep(kUnloadBusyPauseMs);
  }
  Sleep(kUnloadLastPauseMs);
  try {
    tear_down_if_unused();
  } catch (...) {
    // Out of memory while tearing down: keep the module rather than unmap
    // it under a half-stopped client.
    if (keep_module_reference()) return 0;
    FreeLibraryAndExitThread(self, 0);
  }
  log_line("모듈 참조 놓음");
  FreeLibraryAndExitThread(self, 0);
}

// ---- attach -----------------------------------------------------------------

void attach_window(HWND w) {
  // 1. Only windows of this thread, and only once.
  if (!w || !IsWindow(w)) return;
  if (GetWindowThreadProcessId(w, nullptr) != GetCurrentThreadId()) return;
  if (find_panel(w)) return;

  // 2. Count the window and make sure the DLL keeps itself loaded.
  bool refused = false;
  bool took_ref = false;
  {
    std::lock_guard lock(g_refs_mutex);
    if (g_attached_count >= kMaxAttachedWindows) {
      refused = true;
    } else if (!g_ref_held) {
      HMODULE self = nullptr;
      if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&lumaro_getmsg_proc),
                             &self)) {
        g_ref_held = true;
        took_ref = true;
      } else {
        refused = true;
      }
    }
    if (!refused) ++g_attached_count;
  }
  if (took_ref) log_line("모듈 참조 잡음");
  if (refused) {
    log_line("붙기 거절(상한 또는 참조 실패) hwnd=" + hwnd_text(w));
    return;
  }

  // 3.–4. Settings, DPI, state and subclass.
  auto* state = new PanelState;
  state->target = w;
  state->settings = read_panel_settings();
  state->dpi = window_dpi(w);
  if (!set_subclass(w, &target_subclass_proc, kSubclassId, reinterpret_cast<DWORD_PTR>(state))) {
    delete state;
    log_line("SetWindowSubclass 실패 hwnd=" + hwnd_text(w));
    release_module_ref();
    return;
  }

  // 5. Classes, once per life of the module in this process.
  if (!g_classes_registered.exchange(true)) register_classes();

  // 6.–7. The panel and the caption icon, hidden until placed.
  state->panel = CreateWindowExW(WS_EX_TOOLWINDOW, kPanelClass, L"Lumaro", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, w,
                                 nullptr, g_module, nullptr);
  state->icon = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW, kIconClass, L"Lumaro", WS_POPUP,
                                0, 0, 0, 0, w, nullptr, g_module, nullptr);

  // 8.–10. Announce the panel and make sure a pipe client runs.
  add_attached_window(w);
  send_request(Request(OpenRequest{window_id(w), window_caption(w)}));
  start_pipe_client();

  // 11. Keys typed into the panel must not reach the application's own
  // accelerators and dialog navigation.
  if (add_thread_panel()) {
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &key_guard_hook, g_module, GetCurrentThreadId());
    if (hook) {
      set_thread_key_hook(hook);
    } else {
      log_line("키 보호 훅 실패(앱 단축키가 입력란 키를 가로챌 수 있음)");
    }
  }

  // 12.–13.
  if (!state->panel || !state->icon) log_line("패널·아이콘 창 생성 실패 hwnd=" + hwnd_text(w));
  log_line("붙음 hwnd=" + hwnd_text(w) + " dpi=" + std::to_string(state->dpi) + " 설정 " +
           settings_text(state->settings));
}

// The detach steps after the state is found. A target that is already
// destroyed (its detach was put off and the window went meanwhile) took our
// subclass and its owned panel and icon windows with it; only the state and
// the DLL's own records are left to clear.
void release_panel(std::string_view reason, HWND window, PanelState* state, bool window_alive) {
  state->detaching = true;
  forget_deferred_detach(window);
  // 2.
  if (window_alive) {
    KillTimer(window, kAnimationTimerId);
    KillTimer(window, kReshowTimerId);
  }
  // 3.–4.
  remove_attached_window(window);
  drop_window_events(window);
  send_request(Request(CloseRequest{window_id(window)}));
  // 5.
  if (HHOOK hook = remove_thread_panel()) UnhookWindowsHookEx(hook);
  // 6.–8.
  if (window_alive) {
    if (state->panel) DestroyWindow(std::exchange(state->panel, nullptr));
    if (state->icon) DestroyWindow(std::exchange(state->icon, nullptr));
    if (!remove_subclass(window, &target_subclass_proc, kSubclassId)) {
      state->detaching = false;
      log_line("RemoveWindowSubclass 실패 hwnd=" + hwnd_text(window));
      return;
    }
  }
  // 9. Give the application its full client area back, unless the window is
  // being destroyed anyway.
  const bool had_strip = state->wanted_width > 0 || state->reserved_width > 0;
  delete state;
  if (window_alive && had_strip && reason != kReasonClosed) {
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
  }
  // 10.
  log_line("해제 hwnd=" + hwnd_text(window) + " (" + std::string(reason) + ")");
  release_module_ref();
}

// A detach that waited for the outermost subclass call. If the window no
// longer leads to the recorded state, it was destroyed meanwhile; that is
// what happens whenever the user closes a target, because WM_CLOSE runs
// through the subclass and the WM_NCDESTROY it causes arrives nested. The
// recorded state itself is still allocated: every release drops the record
// of its window first.
void carry_out(const DeferredDetach& due) {
  if (find_panel(due.window) == due.state) {
    detach(due.reason, due.window);
  } else {
    release_panel(due.reason, due.window, due.state, false);
  }
}

LRESULT handle_target_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, PanelState* state) {
  if (!state || state->detaching) return def_subclass_proc(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    request_detach(kReasonClosed, window);
    return def_subclass_proc(window, message, wparam, lparam);
  }
  if (message >= 0xC000) {  // registered messages
    if (message == query_message()) return kAttachedAnswer;
    if (message == detach_message()) {
      request_detach(kReasonCommand, window);  // may free `state`
      return kAttachedAnswer;
    }
    if (message == toggle_message()) {
      toggle(*state, !state->open);
      return kAttachedAnswer;
    }
    if (message == pipe_message()) {
      // The conversation view takes these; until it exists they are only
      // taken so that the queue does not keep them.
      (void)take_events(window);
      return 0;
    }
  }
  return def_subclass_proc(window, message, wparam, lparam);
}

}  // namespace

PanelState* find_panel(HWND window) noexcept {
  DWORD_PTR data = 0;
  if (!window || !get_subclass(window, &target_subclass_proc, kSubclassId, &data)) return nullptr;
  return reinterpret_cast<PanelState*>(data);
}

void attach(HWND window) noexcept {
  try {
    attach_window(window);
  } catch (...) {
    // Out of memory half-way: whatever was set up stays consistent enough
    // for a later detach; nothing more can safely be done here.
  }
}

void toggle(PanelState& state, bool open) {
  state.open = open;
  log_line("열림=" + bool_text(open) + " hwnd=" + hwnd_text(state.target) + " 방식 " +
           std::string(animation_name(state.settings.anim)));
}

void request_detach(std::string_view reason, HWND window) {
  const int depth = subclass_depth();
  if (depth < 2) {
    detach(reason, window);
    return;
  }
  PanelState* state = find_panel(window);
  if (!state) return;  // nothing attached, so nothing to put off
  const bool recorded = defer_detach(window, reason, state);
  log_line("해제 미룸 hwnd=" + hwnd_text(window) + " 깊이=" + std::to_string(depth) + " (" + std::string(reason) +
           ") 기록=" + bool_text(recorded));
}

void detach(std::string_view reason, HWND window) {
  // 1.
  PanelState* state = find_panel(window);
  if (!state || state->detaching) return;
  release_panel(reason, window, state, true);
}

void release_module_ref() {
  bool start_failed = false;
  {
    std::lock_guard lock(g_refs_mutex);
    if (g_attached_count > 0) --g_attached_count;
    if (g_attached_count == 0 && g_ref_held) {
      HANDLE thread = CreateThread(nullptr, 0, &unload_thread, nullptr, 0, nullptr);
      if (thread) {
        g_ref_held = false;
        CloseHandle(thread);
      } else {
        start_failed = true;
      }
    }
  }
  if (start_failed) log_line("내림 스레드 생성 실패, 모듈 유지");
}

LRESULT CALLBACK target_subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                      DWORD_PTR data) noexcept {
  CodeFrame frame;
  LRESULT result = 0;
  try {
    enter_subclass_call();
    try {
      result = handle_target_message(window, message, wparam, lparam, reinterpret_cast<PanelState*>(data));
    } catch (...) {
      result = 0;
    }
    // The outermost call carries out the detaches that nested calls put off,
    // now that no frame of this procedure refers to a panel any more.
    if (leave_subclass_call()) {
      while (const std::optional<DeferredDetach> due = take_deferred_detach()) carry_out(*due);
    }
  } catch (...) {
    // Out of memory in the bookkeeping: the message itself was handled.
  }
  return result;
}

LRESULT CALLBACK key_guard_hook(int code, WPARAM wparam, LPARAM lparam) noexcept {
  CodeFrame frame;
  if (code == HC_ACTION && wparam == PM_REMOVE && lparam) {
    MSG* msg = reinterpret_cast<MSG*>(lparam);
    const UINT m = msg->message;
    if ((m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR || m == WM_DEADCHAR) && msg->hwnd) {
      wchar_t name[64];
      const int n = GetClassNameW(GetAncestor(msg->hwnd, GA_ROOT), name, 64);
      if (n > 0 && std::wstring_view(name, static_cast<size_t>(n)) == kPanelClass) {
        // Deliver the key to the panel now and hide it from the
        // application's own loop.
        MSG copy = *msg;
        TranslateMessage(&copy);
        DispatchMessageW(&copy);
        msg->message = WM_NULL;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK icon_wndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  CodeFrame frame;
  switch (message) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_LBUTTONDOWN:
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP: {
      const bool had_capture = GetCapture() == window;
      if (had_capture) ReleaseCapture();
      RECT client;
      GetClientRect(window, &client);
      const POINT at = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      if (had_capture && PtInRect(&client, at)) {
        if (PanelState* state = find_panel(GetWindow(window, GW_OWNER))) {
          try {
            toggle(*state, !state->open);
          } catch (...) {
          }
        }
      }
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK panel_wndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  CodeFrame frame;
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace lumaro::hook

extern "C" LRESULT CALLBACK lumaro_getmsg_proc(int code, WPARAM wparam, LPARAM lparam) noexcept {
  using namespace lumaro::hook;
  CodeFrame frame;
  if (code == HC_ACTION && wparam == PM_REMOVE && lparam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lparam);
    if (msg->message >= 0xC000 && msg->message == attach_message()) attach(msg->hwnd);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
